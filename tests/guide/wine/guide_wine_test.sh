#!/usr/bin/env bash
# Runs nodletflash-guide.exe under Wine with --json and checks its feed and exit status.
#
#   guide_wine_test.sh --prefix DIR --cwd DIR --expect-status N [--expect-error TEXT]
#                      [--expect-outcome WORD] [--env NAME=VALUE]... -- EXE [ARG...]
#
# Every line of standard output must be an object of the feed, valid against its schema in
# doc/ (by Debian's python3-jsonschema); the module's end, then the run's, with the tool's status
# passed through. --expect-error: the single error event's text starts with TEXT; without it
# there must be none. The power cycle comes from the clock alone: one "asked" step for each
# instruction, no other.
set -uo pipefail

die() {
  echo "guide_wine_test: $*" >&2
  exit 2
}

prefix=
cwd=.
expect_status=
expect_error=
expect_outcome=
extra_env=()
while (($# > 0)); do
  case $1 in
    --prefix) prefix=${2:?}; shift 2 ;;
    --cwd) cwd=${2:?}; shift 2 ;;
    --expect-status) expect_status=${2:?}; shift 2 ;;
    --expect-error) expect_error=${2:?}; shift 2 ;;
    --expect-outcome) expect_outcome=${2:?}; shift 2 ;;
    --env) extra_env+=("${2:?}"); shift 2 ;;
    --) shift; break ;;
    *) die "unknown option '$1'" ;;
  esac
done
(($# >= 1)) || die "no executable given"
[[ -n $prefix && -n $expect_status ]] || die "--prefix and --expect-status are required"

work=$(mktemp -d "${TMPDIR:-/tmp}/guide_wine.XXXXXX") || die "no scratch directory"
trap 'rm -rf "$work"' EXIT

export WINEPREFIX=$(realpath -m "$prefix")
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

exe=$(realpath "$1")
shift
# Output to files, never a pipe: Wine's background processes would hold a pipe open.
(cd "$cwd" && exec env "${extra_env[@]}" timeout -k 10 120 wine "$exe" "$@") \
  </dev/null >"$work/out" 2>"$work/err"
status=$?

schema=$(dirname "$(realpath "$0")")/../../../doc/nodletflash-guide-feed.schema.json
/usr/bin/python3 - "$work/out" "$status" "$expect_status" "$expect_error" "$expect_outcome" \
  "$schema" <<'PY'
import json, sys
import jsonschema
path, status, want_status, want_error, want_outcome, schema_path = sys.argv[1:]
validator = jsonschema.Draft202012Validator(json.load(open(schema_path, encoding="utf-8")))
status, want_status = int(status), (int(want_status) % 256 + 256) % 256
failures = []
events = []
for number, line in enumerate(open(path, encoding="utf-8", newline=""), 1):
    if not line.endswith("\n"):
        failures.append(f"line {number} is not ended by a newline")
    try:
        event = json.loads(line)
    except ValueError:
        failures.append(f"line {number} is not JSON: {line!r}")
        continue
    for error in validator.iter_errors(event):
        failures.append(f"line {number} does not hold to the schema: {error.message}: {line!r}")
    events.append(event)
if status != want_status:
    failures.append(f"exit status {status}, expected {want_status}")
ends = [e for e in events if e.get("event") == "end"]
if not events or events[-1].get("event") != "run-end" or not ends:
    failures.append("the feed does not end with the module's end and the run's")
else:
    if events[-1].get("status") % 256 != want_status:
        failures.append(f"the run-end's status is {events[-1].get('status')}, expected {want_status}")
    end = ends[-1]
    if end.get("status") is None or end["status"] % 256 != want_status:
        failures.append(f"the end event's status is {end.get('status')}, expected {want_status}")
    if want_outcome and end.get("outcome") != want_outcome:
        failures.append(f"the outcome is {end.get('outcome')}, expected {want_outcome}")
errors = [e for e in events if e.get("event") == "error"]
if want_error:
    if len(errors) != 1 or not errors[0].get("text", "").startswith(want_error):
        failures.append(f"expected one error starting {want_error!r}, got {errors}")
elif errors:
    failures.append(f"unexpected errors: {errors}")
# On Windows the guide sees neither the bus nor the virtual hand: the power cycle is told from
# the clock, which cannot know when the hand went off or on.
cycle = [e for e in events if e.get("event") == "power-cycle"]
asked = [e for e in events if e.get("event") == "instruction"
         and e.get("text", "").startswith("Please power off")]
if [e.get("phase") for e in cycle] != ["asked"] * len(asked):
    failures.append(f"power-cycle steps {cycle} for {len(asked)} instructions")
if any(e.get("source") != "clock" for e in cycle):
    failures.append(f"power-cycle steps not from the clock: {cycle}")
kinds = sorted({e.get("event") for e in events})
if failures:
    print("FAIL:\n  " + "\n  ".join(failures))
    print("--- standard output")
    print(open(path, encoding="utf-8", errors="replace").read()[:4000])
    sys.exit(1)
print(f"ok: {len(events)} events ({', '.join(kinds)}), status {status}")
PY
result=$?
if ((result != 0)) && [[ -s $work/err ]]; then
  echo "--- standard error"
  head -40 "$work/err"
fi
exit $result
