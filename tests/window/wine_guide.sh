#!/usr/bin/env bash
# Runs the Windows build of nodletflash-guide under Wine, in the Wine tests' prefix.
#
#   wine_guide.sh EXE [ARG...]    (WINDOW_WINE_PREFIX names the prefix)
set -euo pipefail
export WINEPREFIX
WINEPREFIX=$(realpath -m "${WINDOW_WINE_PREFIX:?the Wine prefix}")
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
