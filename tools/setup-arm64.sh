#!/usr/bin/env bash
# Installs what the arm64 cross build and its tests need on Debian 12 (amd64): Debian's cross
# toolchain, the arm64 libraries the programs and tests link (multiarch), qemu's user-mode
# emulator for the unit tests and qemu-system-aarch64 for the CAN guest. The guest's arm64
# busybox and kernel are fetched, never installed, by tools/qemu-vcan/prepare.sh: busybox-static
# is not multiarch, and its arm64 build would replace the amd64 one. Run as root.
set -euo pipefail

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
  apt-get -o DPkg::Lock::Timeout=900 update -q
fi
packages=(
  crossbuild-essential-arm64          # aarch64-linux-gnu-gcc/g++, libc6-dev:arm64
  libnl-3-dev:arm64 libnl-route-3-dev:arm64 libmnl-dev:arm64 libcap-dev:arm64
  libgtest-dev:arm64 libgmock-dev:arm64
  libstdc++6:arm64                    # for the package's computed dependencies (dpkg-shlibdeps)
  qemu-user-static                    # the unit tests, without binfmt registration
  qemu-system-arm                     # qemu-system-aarch64 for the CAN guest
)
bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
