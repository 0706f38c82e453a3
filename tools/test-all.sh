#!/usr/bin/env bash
# Sets up, builds and runs every test: the native build (with the Linux CAN stack under qemu), the
# arm64 cross build (under qemu), README's commands, the sanitizer build, short fuzz runs,
# clang-tidy, and the Windows build under Wine. Run as root from the repository's top.
#
# Two lanes share the machine once the native build is made. The tests run in the foreground at
# normal priority: the qemu guests and the real-clock tests need the processor when they wake. The
# other builds, README's commands and clang-tidy run beside them in the idle scheduling class and
# take only what the tests leave idle (the guests mostly wait on the tool's own deadlines). Each
# preset's tests start when its build is done. At the end a table says where the time went.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
state=$top/build/test-all
run_start=$(date +%s.%N)

# --- phases ---------------------------------------------------------------------------------
# phase NAME COMMAND...: runs COMMAND, and records in $state/NAME its status, wall time and the
# processor time of everything it started.
phase() {
  local name=$1 begin status=0
  shift
  begin=$(date +%s.%N)
  echo "== $name: $*"
  (
    set +e
    "$@"
    rc=$?
    times >"$state/$name.times"
    sed -i '$!d' "$state/$name.times"
    exit $rc
  ) || status=$?
  echo "$status $begin $(date +%s.%N) $(<"$state/$name.times")" >"$state/$name.phase"
  echo "== $name: $( ((status == 0)) && echo passed || echo "FAILED (status $status)")"
  return "$status"
}

# after NAME: waits until phase NAME of the other lane has ended; fails if it failed.
after() {
  while [[ ! -e $state/$1.phase ]]; do sleep 2; done
  [[ $(cut -d' ' -f1 "$state/$1.phase") == 0 ]]
}

table() {
  local f name status begin end user sys
  printf '\nWhere the time went (wall time from the start; processor time, both cores together):\n'
  printf '  %-14s %-10s %7s %7s %7s  %s\n' phase lane start wall cpu status
  for f in $(ls -tr "$state"/*.lane 2>/dev/null); do
    name=$(basename "$f" .lane)
    f=$state/$name.phase
    [[ -e $f ]] || continue
    read -r status begin end user sys <"$f"
    awk -v n="$name" -v l="$(cat "$state/$name.lane")" -v s="$status" -v t0="$run_start" \
      -v b="$begin" -v e="$end" -v u="$user" -v y="$sys" '
      function sec(t, a) { split(t, a, "m"); sub("s", "", a[2]); return a[1] * 60 + a[2] }
      BEGIN { printf "  %-14s %-10s %6.0fs %6.0fs %6.0fs  %s\n", n, l, b - t0, e - b,
              sec(u) + sec(y), s == 0 ? "passed" : "FAILED (" s ")" }'
  done
  awk -v t0="$run_start" -v t1="$(date +%s.%N)" 'BEGIN { printf "  %-14s %-10s %7s %6.0fs\n", "total", "", "", t1 - t0 }'
}

# in_lane LANE NAME COMMAND...: a phase of the lane LANE.
in_lane() {
  echo "$1" >"$state/$2.lane"
  phase "${@:2}"
}

# --- serial: set-up and the native build ------------------------------------------------------
rm -rf "$state"
mkdir -p "$state"
background_pid=
finish() {
  [[ -z $background_pid ]] || kill "$background_pid" 2>/dev/null || true
  table
}
trap finish EXIT
in_lane serial setup bash tools/setup-dev.sh
in_lane serial build-default bash -c 'cmake --preset default && cmake --build --preset default'

# clang-tidy over everything the native build compiles (tests/.clang-tidy spends the static
# analyzer on the programs only).
tidy() {
  run-clang-tidy -p build -quiet 'src/' 'sim/' 'tools/' 'bench/' 'tests/' 'companions/' \
    >build/clang-tidy.log 2>&1 || {
    grep -E 'error:|warning:' build/clang-tidy.log | grep -v 'warnings generated' | sort -u
    echo "clang-tidy found problems (build/clang-tidy.log)"
    return 1
  }
}

# --- the builds beside the tests, in the idle scheduling class -----------------------------------
background() {
  set +e
  # The idle scheduling class: any test that wakes takes the processor from these at once.
  chrt --idle -p 0 $BASHPID >/dev/null
  ionice -c 3 -p $BASHPID
  in_lane background build-arm64 bash -c 'cmake --preset arm64 && cmake --build --preset arm64'
  in_lane background build-windows bash -c 'cmake --preset windows && cmake --build --preset windows'
  in_lane background build-asan bash -c 'cmake --preset asan && cmake --build --preset asan'
  in_lane background build-fuzz bash -c 'cmake --preset fuzz && cmake --build --preset fuzz'
  # README's commands as written, on a clean clone in a clean Debian root. The first command ends
  # with a rehearsal on the real clock: back in the normal class, at the lowest priority of it.
  in_lane background readme chrt --other 0 nice -n 19 bash tools/readme-commands.sh build/readme-commands
  in_lane background clang-tidy tidy
}
background >"$state/background.log" 2>&1 &
background_pid=$!

# --- the tests, in the foreground ------------------------------------------------------------
failed=()
# foreground BUILD NAME COMMAND...: once phase BUILD has passed, the phase NAME (skipped after a
# failed build).
foreground() {
  local build=$1
  shift
  if [[ $build != - ]] && ! after "$build"; then
    echo "== $1: skipped, $build failed"
    failed+=("$1")
    return
  fi
  in_lane tests "$@" || failed+=("$1")
}
foreground - test-default ctest --preset default
foreground build-arm64 test-arm64 ctest --preset arm64
foreground build-windows test-windows ctest --preset windows
foreground build-asan test-asan ctest --preset asan -LE vcan
foreground build-fuzz test-fuzz ctest --preset fuzz

wait "$background_pid" || true
background_pid=
for f in "$state"/*.phase; do
  name=$(basename "$f" .phase)
  [[ $(cat "$state/$name.lane") == background && $(cut -d' ' -f1 "$f") != 0 ]] && failed+=("$name")
done
if ((${#failed[@]} > 0)); then
  echo "== the builds beside the tests (build/test-all/background.log), last lines:"
  tail -n 60 "$state/background.log"
  echo "== failed: ${failed[*]}"
  exit 1
fi
echo "== every phase passed"
