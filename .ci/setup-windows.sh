#!/usr/bin/env bash
# Installs the MinGW-w64 cross compilers and Wine used to build and test the
# Windows executable. Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} > 0)); then
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then
    sudo_cmd=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-cache show "${missing[0]}" >/dev/null 2>&1; then
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 update
  fi
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${missing[@]}" </dev/null
fi

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix wine; do
  command -v "$tool" >/dev/null || { echo "setup-windows: $tool not found after install" >&2; exit 1; }
done
