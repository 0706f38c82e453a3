# Sourced by the package tests: failures counted rather than fatal, and the lists CMake passes.

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# list_words NAME LIST: the ;-separated LIST into the array NAME, leaving out empty items (the
# gaps that programs absent from the build leave).
list_words() {
  local -n into=$1
  local words w
  into=()
  IFS=';' read -r -a words <<<"$2"
  for w in "${words[@]}"; do [[ -z $w ]] || into+=("$w"); done
}

# finish SUMMARY: ends the test, failed if any check failed.
finish() {
  if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "$1"
  exit 0
}
