#!/usr/bin/env bash
# A long fuzz run of one target: tools/fuzz.sh image_fuzzer|node_number_fuzzer|record_check_fuzzer [seconds]
# Findings land in build-fuzz/tests/fuzz/ as crash-* files; the corpus grows in corpus-<target>.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: tools/fuzz.sh image_fuzzer|node_number_fuzzer|record_check_fuzzer [seconds]}
seconds=${2:-3600}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "$target"
dir=build-fuzz/tests/fuzz
mkdir -p "$dir/corpus-$target"
cd "$dir"
exec "./$target" -max_total_time="$seconds" -timeout=5 -max_len=65536 -jobs=2 -workers=2 \
  "corpus-$target" "../../../tests/fuzz/seeds/$target"
