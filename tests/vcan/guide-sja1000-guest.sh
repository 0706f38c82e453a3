#!/bin/sh
# Guest side of the guide's bus test (see guide-sja1000-test.sh): can0 and can1 are two emulated
# SJA1000 controllers on one bus. The guide runs the real nodletflash on can0 and follows the
# power cycle through its own listening socket there; the virtual hand plays the node on can1.
# Each run NAME leaves NAME.feed (the guide's JSON feed), NAME.stderr, NAME.status and the hand's
# NAME.report.
set -u
. ./guest-lib.sh
hand_interface=can1

"$iproute" link set can1 type can bitrate 1000000 && "$iproute" link set can1 up ||
    { echo "cannot bring can1 up"; exit 1; }

# guided NAME SCENARIO: the guide for node 12 and tiny.hex, against a hand playing SCENARIO.
guided() {
    start_hand "$1" "$2"
    ./nodletflash-guide-static --json --no-log --tool=/vcan/nodletflash-static --listen-ms=200 \
        12 tiny.hex >"$out/$1.feed" 2>"$out/$1.stderr" </dev/null
    echo $? >"$out/$1.status"
    stop_hand "$1"
    echo "$1: status $(cat "$out/$1.status")"
}

guided normal normal
guided already-off already-off
exit 0
