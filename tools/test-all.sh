#!/usr/bin/env bash
# Sets up, builds and runs every test: the native build (with the Linux CAN stack under qemu), the
# arm64 cross build (under qemu), README's commands, the sanitizer build, short fuzz runs,
# clang-tidy, and the Windows build under Wine. Run as root from the repository's top.
#
# The set-up installs first what the native build needs; the rest (browsers, qemu, Wine, the cross
# compilers) is installed while the native build runs. Then three lanes share the machine. The native build and then every preset's tests
# run in the foreground at normal priority: the qemu guests and the real-clock tests need the
# processor when they wake. The other builds and clang-tidy run beside them in the idle scheduling
# class and take only what the foreground leaves idle (the guests mostly wait on the tool's own
# deadlines); README's commands, mostly waiting for Debian's mirror, run at the lowest normal
# priority. Each preset's tests start when its build is done. At the end a table says where the
# time went.
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

# --- one compiler cache for every build ------------------------------------------------------
# README's clean clone builds the same sources as the native and arm64 builds, with the same
# compilers, in its clean root: one cache, shared with that root (tools/readme-commands.sh), lets
# whichever build comes second take the first's objects. -Werror is left out of the key (the
# developers' builds add it, a person's build does not): a warning is still an error in the build
# that compiles first, and the native build with -Werror always compiles before README's. Paths are
# hashed relative to each clone's top, so the two clones share.
export CCACHE_DIR=$top/build/ccache CCACHE_BASEDIR=$top CCACHE_NOHASHDIR=true
export CCACHE_COMPILERCHECK=content CCACHE_IGNOREOPTIONS=-Werror CCACHE_MAXSIZE=5G
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache

# --- serial: set-up and the native build ------------------------------------------------------
rm -rf "$state"
mkdir -p "$state"
background_pids=()
finish() {
  ((${#background_pids[@]} == 0)) || kill "${background_pids[@]}" 2>/dev/null || true
  table
}
trap finish EXIT
in_lane serial setup-native bash tools/setup-dev.sh --native

# clang-tidy over the programs the native build compiles, the virtual hand and the benchmarks.
# Not the tests: they took about half of its processor time (380 of 780 s), and a test's own
# faults show when it runs, also under the sanitizers (tests/.clang-tidy serves editors).
tidy() {
  run-clang-tidy -p build -quiet 'src/' 'sim/' 'tools/' 'bench/' 'companions/' \
    >build/clang-tidy.log 2>&1 || {
    grep -E 'error:|warning:' build/clang-tidy.log | grep -v 'warnings generated' | sort -u
    echo "clang-tidy found problems (build/clang-tidy.log)"
    return 1
  }
}

# --- beside the tests: the other builds in the idle scheduling class, README's commands ----------
builds() {
  set +e
  # The rest of the set-up, beside the native build: mostly the mirror's and the disk's time.
  in_lane builds setup bash tools/setup-dev.sh
  # The idle scheduling class: any test that wakes takes the processor from these at once.
  chrt --idle -p 0 $BASHPID >/dev/null
  ionice -c 3 -p $BASHPID
  in_lane builds build-arm64 bash -c 'cmake --preset arm64 && cmake --build --preset arm64'
  in_lane builds build-windows bash -c 'cmake --preset windows && cmake --build --preset windows'
  in_lane builds build-asan bash -c 'cmake --preset asan && cmake --build --preset asan'
  in_lane builds build-fuzz bash -c 'cmake --preset fuzz && cmake --build --preset fuzz'
}
# README's commands as written, on a clean clone in a clean Debian root: much of it is waiting for
# Debian's mirror. Its first command ends with a rehearsal on the real clock, so this lane stays in
# the normal class, at its lowest priority.
readme() {
  set +e
  renice -n 19 -p $BASHPID >/dev/null
  after setup || true  # debootstrap; without it the phase fails and says so
  in_lane readme readme bash tools/readme-commands.sh build/readme-commands
  # Then clang-tidy, in the idle class beside the other builds: left to the end of their lane, it
  # ran alone after the last tests had finished.
  chrt --idle -p 0 $BASHPID >/dev/null
  ionice -c 3 -p $BASHPID
  after build-default && in_lane readme clang-tidy tidy
}
builds >"$state/builds.log" 2>&1 &
background_pids=($!)
readme >"$state/readme.log" 2>&1 &
background_pids+=($!)

in_lane tests build-default bash -c 'cmake --preset default && cmake --build --preset default'

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
# Configured again now that the set-up is complete: the browser tests are made only where the
# browser is found.
foreground setup test-default bash -c \
  'cmake --preset default >/dev/null && cmake --build --preset default && ctest --preset default'
foreground build-arm64 test-arm64 ctest --preset arm64
foreground build-windows test-windows ctest --preset windows
foreground build-asan test-asan ctest --preset asan -LE vcan
foreground build-fuzz test-fuzz ctest --preset fuzz

wait "${background_pids[@]}" || true
background_pids=()
for lane in builds readme; do
  for f in "$state"/*.phase; do
    name=$(basename "$f" .phase)
    if [[ $(cat "$state/$name.lane") == "$lane" && $(cut -d' ' -f1 "$f") != 0 ]]; then
      failed+=("$name")
      echo "== $name failed; the last lines of build/test-all/$lane.log:"
      tail -n 40 "$state/$lane.log"
    fi
  done
done
if ((${#failed[@]} > 0)); then
  echo "== failed: ${failed[*]}"
  exit 1
fi
echo "== every phase passed"
