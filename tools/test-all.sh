#!/usr/bin/env bash
# Sets up, builds and runs every test: the native build (with the Linux CAN stack under qemu), the
# arm64 cross build (under qemu), README's commands, the sanitizer build, short fuzz runs,
# clang-tidy, and the Windows build under Wine. Run as root from
# the repository's top.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup-dev.sh

cmake --preset default
cmake --build --preset default
ctest --preset default

# The arm64 build: cross-compiled, its unit tests under qemu's user-mode emulator, its package
# (compared with the amd64 one just made), and one boot of an emulated arm64 machine.
cmake --preset arm64
cmake --build --preset arm64
ctest --preset arm64

# README's build and package commands as written, on a clean clone in a clean Debian root.
bash tools/readme-commands.sh build/readme-commands

cmake --preset asan
cmake --build --preset asan
ctest --preset asan -LE 'vcan'

cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz

# clang-tidy over everything the native build compiles.
run-clang-tidy -p build -quiet 'src/' 'sim/' 'tools/' 'bench/' 'tests/' 'companions/' > build/clang-tidy.log 2>&1 || {
  grep -E 'error:|warning:' build/clang-tidy.log | grep -v 'warnings generated' | sort -u
  echo "clang-tidy found problems"
  exit 1
}

# The Windows build: cross-compiled with MinGW-w64, its tests run under Wine.
bash .ci/setup-windows.sh
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
