#!/usr/bin/env bash
# Sets up, builds and runs every test: the native build (with the Linux CAN stack under qemu), the
# sanitizer build, short fuzz runs, clang-tidy, and the Windows build under Wine. Run as root from
# the repository's top.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup-dev.sh

cmake --preset default
cmake --build --preset default
ctest --preset default

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
