#!/usr/bin/env bash
# Installs, on top of tools/setup.sh, what the tests need: GoogleTest and Google Benchmark,
# clang for fuzzing and clang-tidy, qemu and busybox for the Linux CAN stack, lintian and
# debootstrap for the package, MinGW-w64 and Wine for the Windows build, and the arm64 cross build
# with what runs its tests here: qemu's user-mode emulator, qemu-system-aarch64 and GoogleTest for
# arm64. The arm64 guest's busybox and kernel are fetched, never installed, by
# tools/qemu-vcan/prepare-arm64.sh: busybox-static is not multiarch, and its arm64 build would
# replace this machine's. Run as root.
#
#   setup-dev.sh [--native]
#
# With --native, only what the native build of the tests needs (tools/test-all.sh builds with it
# while the rest is installed).
set -euo pipefail
here=$(dirname "$0")

bash "$here/setup.sh"
native_packages=(
  git python3 python3-jsonschema
  libtomlplusplus-dev zlib1g-dev  # as setup.sh: the firmware set and the support bundle
  libgtest-dev libgmock-dev libbenchmark-dev
)
bash "$here/install-packages.sh" "${native_packages[@]}"
if [[ ${1:-} == --native ]]; then
  exit 0
fi
packages=(
  clang clang-tidy clang-format libclang-rt-14-dev
  qemu-system-x86 busybox-static cpio xz-utils zstd
  lintian debootstrap unzip man-db
  chromium nodejs  # the window's page in a real browser
)
bash "$here/install-packages.sh" "${packages[@]}"
bash "$here/setup-arm64.sh"
arm64_test_packages=(
  libgtest-dev:arm64 libgmock-dev:arm64
  qemu-user-static  # the unit tests, run by name: no binfmt registration
  qemu-system-arm   # qemu-system-aarch64 for the CAN guest
)
bash "$here/install-packages.sh" "${arm64_test_packages[@]}"
bash "$here/../.ci/setup-windows.sh"

# playwright-core drives Debian's chromium; it never downloads a browser of its own.
if ! command -v npm >/dev/null; then
  bash "$here/install-packages.sh" npm
fi
(cd "$here/../tests/window" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund)
