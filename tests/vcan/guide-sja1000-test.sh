#!/bin/bash
# The guide following the power cycle on a real CAN controller driver: boots the guest with two
# emulated SJA1000 controllers on one bus (run.sh --sja1000), runs guide-sja1000-guest.sh there,
# and checks that the guide's feed tells the node going off and on as the virtual hand did it,
# seen from the bus.
#
# Usage: guide-sja1000-test.sh OUTDIR CACHE GUIDE NODLETFLASH VIRTUAL_HAND SMALL_IMAGE
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -eq 6 ] || { sed -n '2,7p' "${BASH_SOURCE[0]}" >&2; exit 2; }
outdir="$1" cache="$2" guide="$3" tool="$4" hand="$5" small="$6"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$guide" "$stage/nodletflash-guide-static"
cp "$tool" "$stage/nodletflash-static"
cp "$hand" "$stage/virtual-hand"
cp "$small" "$stage/tiny.hex"

bash "$here/../../tools/qemu-vcan/run.sh" --sja1000 --cache "$cache" --out "$outdir" --timeout 900 \
    "$here/guide-sja1000-guest.sh" "$here/guest-lib.sh" "$stage/nodletflash-guide-static" \
    "$stage/nodletflash-static" "$stage/virtual-hand" "$stage/tiny.hex"
files="$outdir/files"
source "$here/checks.sh"

# power_cycle NAME: the feed's power-cycle steps, one per line: "PHASE SOURCE ON_BY", with ON_BY
# in seconds after the instruction (the feed gives both on its own clock, like t).
power_cycle() {
    python3 -c '
import json, sys
for line in open(sys.argv[1]):
    event = json.loads(line)
    if event.get("event") == "power-cycle":
        on_by = event.get("on_by_t")
        print(event["phase"], event["source"],
              "-" if on_by is None else "%.1f" % (on_by - event["instruction_t"]))
' "$files/$1.feed"
}

# run NAME OFFS LOW HIGH: the run succeeded, the hand was switched off OFFS times,
# and the feed told it from the bus, with the limit for coming back on from LOW to HIGH seconds.
run() {
    expect "$1: the guide's status" "$(cat "$files/$1.status")" 0
    # Every object of the feed against its schema, by Debian's python3-jsonschema.
    if report="$(/usr/bin/python3 "$here/../guide/validate_feed.py" \
            "$here/../../doc/nodletflash-guide-feed.schema.json" <"$files/$1.feed")"; then
        ok "$1: the feed holds to its schema"
    else
        not_ok "$1: the feed does not hold to its schema: $report"
    fi
    expect "$1: the hand switched off" "$(field "$1" power_offs)" "$2"
    expect "$1: the node received the image" "$(field "$1" records_bad)" 0
    local steps
    steps="$(power_cycle "$1")"
    echo "$steps" | sed "s/^/$1: /"
    expect "$1: phases and sources" "$(echo "$steps" | cut -d' ' -f1,2 | tr '\n' ' ')" \
        "asked bus hand-off bus hand-on bus "
    local on_by
    on_by="$(echo "$steps" | sed -n 's/^hand-off bus //p')"
    if awk -v v="$on_by" -v lo="$3" -v hi="$4" 'BEGIN { exit !(v >= lo && v <= hi) }'; then
        ok "$1: back on by $on_by s"
    else
        not_ok "$1: back on by '$on_by' s, not within $3 to $4"
    fi
}

# The hand goes off about a second after the first query: 75 - t/2 with t about 1 s (a slow
# guest's probes may take longer, so t up to 3 s).
run normal 1 73.5 75
# Off before the first query: the whole budget.
run already-off 0 75 75
empty_stderr normal
empty_stderr already-off
exit $((failures > 0))
