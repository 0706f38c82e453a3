#!/usr/bin/env bash
# Runs the program under Wine next to the stand-in adapter library and checks what the virtual
# hand saw, besides the program's output and status.
#
#   standin_test.sh [checks] -- [run_exe.sh options] -- EXE [ARG...]
#
# Checks:
#   --report FILE          where the stand-in writes its report (required; removed first)
#   --scenario NAME        the hand's scenario (default: normal)
#   --node N               the node the hand holds (default: 12)
#   --expect-data FILE     the node received every payload character of the firmware FILE, in
#                          order: each line without its first character and its line end
#   --expect NAME=VALUE    the report's field NAME is VALUE (repeatable)
#   --expect-one-cpu       the program ended confined to exactly one CPU
#   --expect-no-report     the library was never loaded, so it wrote no report
set -uo pipefail

here=$(dirname "$(realpath "$0")")

die() {
  echo "standin_test: $*" >&2
  exit 2
}

report=
scenario=normal
node=12
expect_data=
expect_fields=()
one_cpu=false
no_report=false

while (($# > 0)); do
  case $1 in
    --report) report=${2:?}; shift 2 ;;
    --scenario) scenario=${2:?}; shift 2 ;;
    --node) node=${2:?}; shift 2 ;;
    --expect-data) expect_data=${2:?}; shift 2 ;;
    --expect)
      [[ ${2:-} == [a-z_]*=* ]] || die "--expect needs NAME=VALUE, got '${2:-}'"
      expect_fields+=("$2"); shift 2 ;;
    --expect-one-cpu) one_cpu=true; shift ;;
    --expect-no-report) no_report=true; shift ;;
    --) shift; break ;;
    *) die "unknown option '$1'" ;;
  esac
done
[[ -n $report ]] || die "--report is required"
[[ -z $expect_data || -f $expect_data ]] || die "firmware file '$expect_data' not found"

report=$(realpath -m "$report")
rm -f "$report"
# The library opens the report with Windows' file calls: the path on drive Z:, the Linux root.
win_report=Z:${report//\//\\}

bash "$here/../../tools/wine/run_exe.sh" --env "NODLETFLASH_STANDIN=scenario=$scenario;node=$node;report=$win_report" "$@"
status=$?
((status == 0 || status == 1)) || exit "$status"
failed=$((status != 0))

fail() {
  echo "FAIL: $*"
  failed=1
}

# The value of a report field: the report has one "name": value pair per line.
field() {
  sed -n -e "s/^  \"$1\": \(.*\)$/\1/p" "$report" | sed -e 's/,$//'
}

if $no_report; then
  [[ -e $report ]] && fail "the adapter library was loaded: it wrote $report"
elif [[ ! -s $report ]]; then
  fail "the stand-in wrote no report to $report"
else
  for expectation in "${expect_fields[@]}"; do
    name=${expectation%%=*}
    want=${expectation#*=}
    got=$(field "$name")
    [[ $got == "$want" ]] || fail "report field $name is '$got', expected '$want'"
  done
  if $one_cpu; then
    mask=$(field affinity_mask)
    if [[ ! $mask =~ ^[0-9]+$ ]] || ((mask == 0 || (mask & (mask - 1)) != 0)); then
      fail "the program is not confined to one CPU: affinity mask '$mask'"
    fi
  fi
  if [[ -n $expect_data ]]; then
    # Every line's payload: from its second character to its line end. In the report's JSON
    # string a backslash is doubled and DEL is written as \u007f.
    want=$(LC_ALL=C tr -d '\r' <"$expect_data" | LC_ALL=C cut -c2- | LC_ALL=C tr -d '\n' |
      LC_ALL=C sed -e 's/\\/\\\\/g' -e 's/\x7f/\\u007f/g')
    got=$(field data)
    got=${got#\"}
    got=${got%\"}
    if [[ $got != "$want" ]]; then
      fail "the node received ${#got} characters that differ from the ${#want} payload characters of $expect_data"
      echo "  expected: ${want:0:200}"
      echo "  received: ${got:0:200}"
    fi
  fi
fi

if ((failed)); then
  [[ -s $report ]] && { echo "--- report"; grep -v '"data"' "$report"; }
  exit 1
fi
echo "ok: the virtual hand saw what was expected"
exit 0
