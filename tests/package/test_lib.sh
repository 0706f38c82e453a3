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

# read_package_arguments NAME PACKAGE VERSION PROGRAMS EXAMPLES: the arguments of the tests that
# look into a package, into $package, $version and the arrays programs and examples. The package
# must exist and be named NAME, in which @VERSION@ stands for the version.
read_package_arguments() {
  package=$2
  version=$3
  list_words programs "$4"
  list_words examples "$5"
  [[ -f $package ]] || { echo "FAIL: no package $package"; exit 1; }
  local name=${1//@VERSION@/$version}
  [[ $(basename "$package") == "$name" ]] || fail "package file name $(basename "$package"), not $name"
}
