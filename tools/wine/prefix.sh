#!/usr/bin/env bash
# Makes a fresh Wine prefix for the tests and keeps its server running, or stops it again.
#
#   prefix.sh start DIR   remove DIR, create a new prefix there and start a persistent wineserver
#   prefix.sh stop DIR    stop the prefix's wineserver and the Wine processes that belong to it
#
# A started server stays up while tests come and go, which makes a run of an executable take
# about 0.1 s instead of well over a second; it still ends by itself a while after its last
# client, should the stop step never come. All output of Wine goes to DIR.log, never to the
# caller's pipes, which Wine's background processes would otherwise hold open.
set -uo pipefail

die() {
  echo "prefix: $*" >&2
  exit 2
}

(($# == 2)) || die "usage: prefix.sh start|stop DIR"
action=$1
prefix=$(realpath -m "$2")
log=$prefix.log

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

command -v wine >/dev/null || die "wine is not installed (see .ci/setup-windows.sh)"
command -v wineserver >/dev/null || die "wineserver is not installed (see .ci/setup-windows.sh)"

stop_server() {
  if [[ -d $prefix ]]; then
    wineserver -k </dev/null >>"$log" 2>&1
    timeout 60 wineserver -w </dev/null >>"$log" 2>&1
  fi
  return 0
}

case $action in
  start)
    mkdir -p "$(dirname "$prefix")" || die "cannot create the parent of $prefix"
    : >"$log"
    stop_server
    rm -rf "$prefix" || die "cannot remove the old prefix $prefix"
    # Wine refuses a prefix that is not owned by the user running it.
    mkdir "$prefix" || die "cannot create $prefix"
    # How long the server outlives its last client, in seconds.
    wineserver -p600 </dev/null >>"$log" 2>&1 || die "wineserver did not start (see $log)"
    if ! timeout 300 wineboot -i </dev/null >>"$log" 2>&1; then
      cat "$log" >&2
      die "the prefix could not be initialised"
    fi
    echo "Wine prefix ready: $prefix ($(wine --version 2>/dev/null </dev/null))"
    ;;
  stop)
    stop_server
    echo "Wine prefix stopped: $prefix"
    ;;
  *)
    die "unknown action '$action'"
    ;;
esac
