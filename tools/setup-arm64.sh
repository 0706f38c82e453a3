#!/usr/bin/env bash
# Installs, on top of tools/setup.sh, what the arm64 cross build and its Debian package need on
# Debian 12 (amd64): Debian's cross toolchain and the arm64 libraries the programs link, next to
# the host's (multiarch). tools/setup-dev.sh adds what its tests need. Run as root.
set -euo pipefail
here=$(dirname "$0")

bash "$here/setup.sh"

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
  apt-get -o DPkg::Lock::Timeout=900 update -q
fi
packages=(
  crossbuild-essential-arm64          # aarch64-linux-gnu-gcc/g++, libc6-dev:arm64
  libcap-dev:arm64                    # nodletflash-check reads file capabilities
  zlib1g-dev:arm64                    # the guide's support bundle (gzip)
  libstdc++6:arm64                    # for the package's computed dependencies (dpkg-shlibdeps)
)
bash "$here/install-packages.sh" "${packages[@]}"
