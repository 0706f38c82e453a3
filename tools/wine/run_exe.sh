#!/usr/bin/env bash
# Runs a Windows executable under Wine and checks its standard output, byte for byte, and its
# exit status.
#
#   run_exe.sh [options] --expect-stdout FILE --expect-status N -- EXE [ARG...]
#
# Options:
#   --prefix DIR          Wine prefix to run in (default: $WINEPREFIX; one of the two is required)
#   --env NAME=VALUE      extra environment variable for the program (repeatable); Wine hands the
#                         Linux environment on to the Windows process
#   --cwd DIR             working directory of the program (default: the current one)
#   --timeout SECONDS     kill the run after this long (default: 120)
#   --allow-stderr        accept output on standard error (by default any is a failure)
#   --expect-stdout FILE  the exact bytes expected on standard output, with the CR LF line ends of
#                         a text-mode Windows stream; the token @EXE_PATH@ stands for the program
#                         path as Wine hands it to the program (its argv[0], e.g. Z:\build\x.exe)
#   --expect-status N     expected exit status; negative values are taken modulo 256, as the
#                         Linux side sees them (main returning -1 reads as 255)
#
# The program runs with no standard input, no display, WINEDEBUG=-all and the Mono and Gecko
# installers disabled, unless the caller's environment sets WINEDEBUG or WINEDLLOVERRIDES.
# Its standard output and error go to files, never to a pipe: Wine's background processes
# inherit them and would hold a pipe open long after the program has ended.
set -uo pipefail

die() {
  echo "run_exe: $*" >&2
  exit 2
}

prefix=${WINEPREFIX:-}
cwd=
timeout_s=120
allow_stderr=false
expect_stdout=
expect_status=
extra_env=()

while (($# > 0)); do
  case $1 in
    --prefix) prefix=${2:?}; shift 2 ;;
    --env)
      [[ ${2:-} == [A-Za-z_]*=* ]] || die "--env needs NAME=VALUE, got '${2:-}'"
      extra_env+=("$2"); shift 2 ;;
    --cwd) cwd=${2:?}; shift 2 ;;
    --timeout) timeout_s=${2:?}; shift 2 ;;
    --allow-stderr) allow_stderr=true; shift ;;
    --expect-stdout) expect_stdout=${2:?}; shift 2 ;;
    --expect-status) expect_status=${2:?}; shift 2 ;;
    --) shift; break ;;
    *) die "unknown option '$1'" ;;
  esac
done

(($# >= 1)) || die "no executable given"
[[ -n $prefix ]] || die "no Wine prefix: pass --prefix or set WINEPREFIX"
[[ -n $expect_stdout ]] || die "--expect-stdout is required"
[[ -f $expect_stdout ]] || die "expected-output file '$expect_stdout' not found"
[[ $expect_status =~ ^-?[0-9]+$ ]] || die "--expect-status needs an integer, got '$expect_status'"
[[ -f $1 ]] || die "executable '$1' not found"

exe=$(realpath "$1")
shift
prefix=$(realpath -m "$prefix")
expect_status=$(((expect_status % 256 + 256) % 256))

work=$(mktemp -d "${TMPDIR:-/tmp}/run_exe.XXXXXX") || die "cannot make a scratch directory"
trap 'rm -rf "$work"' EXIT

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

# The expected output, with the program path filled in where the file asks for it.
expected=$work/expected
if grep -qF '@EXE_PATH@' "$expect_stdout"; then
  # A fresh prefix maps drive Z: to the Linux root, and Wine hands the program the path it was
  # started with on that drive.
  win_exe=Z:${exe//\//\\}
  IFS= read -r -d '' text <"$expect_stdout"
  printf '%s' "${text//@EXE_PATH@/"$win_exe"}" >"$expected"
else
  cp "$expect_stdout" "$expected"
fi

actual=$work/stdout
errors=$work/stderr
(
  if [[ -n $cwd ]]; then
    cd "$cwd" || exit 2
  fi
  exec env "${extra_env[@]}" timeout -k 10 "$timeout_s" wine "$exe" "$@"
) </dev/null >"$actual" 2>"$errors"
status=$?

# Shows bytes so that a stray or missing CR is visible: cat -v writes CR as ^M and other control
# bytes as ^X or M-x.
visible() {
  LC_ALL=C cat -v "$1"
}

# Enough lines to show the first differences of a report, not a whole crash backtrace.
max_lines=80
failed=false
if ! cmp -s "$expected" "$actual"; then
  failed=true
  echo "FAIL: standard output differs: $(cmp "$expected" "$actual" 2>&1 | sed -e "s|$expected|expected|" -e "s|$actual|actual|" -e 's/^cmp: //')"
  echo "--- expected (CR shown as ^M)"
  echo "+++ actual"
  diff -U3 <(visible "$expected") <(visible "$actual") | tail -n +3 | head -n "$max_lines"
  if [[ -s $expected && $(tail -c1 "$expected" | od -An -c | tr -d ' ') != '\n' ]]; then
    echo "(expected output does not end in a newline)"
  fi
  if [[ -s $actual && $(tail -c1 "$actual" | od -An -c | tr -d ' ') != '\n' ]]; then
    echo "(actual output does not end in a newline)"
  fi
fi
if ((status == 124 || status == 137)) && ((expect_status != status)); then
  failed=true
  echo "FAIL: no end within ${timeout_s}s (status $status from timeout)"
elif ((status != expect_status)); then
  failed=true
  echo "FAIL: exit status $status, expected $expect_status"
fi
if ! $allow_stderr && [[ -s $errors ]]; then
  failed=true
  echo "FAIL: unexpected output on standard error:"
fi
if $failed; then
  if [[ -s $errors ]]; then
    echo "--- standard error"
    visible "$errors" | head -n "$max_lines"
  fi
  echo "command: wine $exe${*:+$(printf ' %q' "$@")}"
  exit 1
fi
echo "ok: $(wc -c <"$actual") bytes of standard output as expected, status $status"
exit 0
