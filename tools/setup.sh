#!/usr/bin/env bash
# Installs what building and testing nodletflash needs on Debian 12. Run as root.
set -euo pipefail

packages=(
  build-essential cmake git python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libnl-route-3-dev
  libcap-dev libcli11-dev nlohmann-json3-dev
  clang clang-tidy clang-format libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get -o DPkg::Lock::Timeout=900 install -y -q "${missing[@]}"
fi
