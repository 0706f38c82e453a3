#!/usr/bin/env bash
# Sets up, builds and runs every test: the native build, the sanitizer build, the Linux CAN stack
# under qemu and the Windows build under Wine. Run as root from the repository's top.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset asan
cmake --build --preset asan
ctest --preset asan
