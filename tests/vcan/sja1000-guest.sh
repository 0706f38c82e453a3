#!/bin/sh
# Guest side of the SJA1000 test (see sja1000-test.sh, which checks what this leaves behind).
# can0 and can1 are two emulated SJA1000 controllers on one bus, bound by Debian's kvaser_pci
# driver: the real nodletflash, as root, runs on can0, virtual-hand on can1. Runs:
#   fresh         can0 as the driver left it (down, no bit rate): a download of tiny.hex
#   rate500k      can0 up at 500 kbit/s: refused, can0 untouched
#   up1m          can0 up at 1 Mbit/s: a download of firmware-200.hex, during which
#   second        a second run, for node 13, is started
#   silent        a node that never answers
#   sigN          SIGINT or SIGTERM at a random moment of the handshake or the download, can0
#                 up at 1 Mbit/s or down at the start
#   unplug-on     can0's card hot-removed while the node still answers,
#   unplug-off    while the node is off,
#   unplug-down   and during the download; the card comes back between runs
# Besides the files guest-lib.sh describes it leaves NAME.before (can0's state before the run),
# NAME.monitor (the link events of `ip monitor link` during the run, then a line "@@after" and
# the events of a change made afterwards, which show the monitor works), NAME.signal (the signal
# and the stage aimed at) and boot.uptime (the uptime at which this script began).
set -u
cut -d' ' -f1 /proc/uptime >"$VCAN_OUT/boot.uptime"
. ./guest-lib.sh
hand_interface=can1
big=firmware-200.hex
small=tiny.hex

# set_can IFACE RATE up|down: the interface down, at RATE, then up or left down.
set_can() {
    "$iproute" link set "$1" down &&
        "$iproute" link set "$1" type can bitrate "$2" &&
        "$iproute" link set "$1" "$3"
}

# random_us MIN MAX: a random number of microseconds from MIN to MAX.
random_us() {
    r=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
    echo $(($1 + r % ($2 - $1 + 1)))
}

# monitor_start NAME / monitor_stop NAME: link events into NAME.monitor, appended so that a mark
# written meanwhile lands in order.
monitor_start() {
    "$iproute" monitor link >>"$out/$1.monitor" 2>&1 &
    monitor=$!
    usleep 300000
}
monitor_mark() { echo "@@after" >>"$out/$1.monitor"; }
monitor_stop() {
    usleep 300000
    kill $monitor
    wait $monitor 2>/dev/null
}

"$iproute" link set can1 type can bitrate 1000000 && "$iproute" link set can1 up ||
    { echo "cannot bring can1 up"; exit 1; }

# --- can0 as the driver left it ---------------------------------------------------------------
image=$small
can0_state >"$out/fresh.before"
with_hand fresh normal

# --- can0 at another bit rate -------------------------------------------------------------------
image=$big
set_can can0 500000 up
can0_state >"$out/rate500k.before"
monitor_start rate500k
with_hand rate500k normal
monitor_mark rate500k
set_can can0 1000000 up
monitor_stop rate500k

# --- can0 up at 1 Mbit/s, and a second run during the download -----------------------------------
image=$big
can0_state >"$out/up1m.before"
start_hand up1m normal
tool up1m nodletflash 12 "$big" &
first=$!
wait_for up1m '^DOWNPROG' 3
monitor_start second
second_run second up1m
monitor_mark second
wait $first
monitor_stop second
stop_hand up1m

# --- a node that never answers --------------------------------------------------------------------
can0_state >"$out/silent.before"
with_hand silent never-answers

# --- signals ------------------------------------------------------------------------------------
# At a random moment of the handshake (within 6 s of the tool's start; the node answers again
# after about 6 s) or of the download (within 3 s of its first line).
n=0
for stage in handshake download; do
    for signal in INT TERM; do
        for initial in up down; do
            n=$((n + 1))
            set_can can0 1000000 "$initial"
            can0_state >"$out/sig$n.before"
            echo "SIG$signal $stage" >"$out/sig$n.signal"
            if [ $stage = handshake ]; then
                signalled "sig$n" "$signal" "$(random_us 0 6000000)"
            else
                signalled "sig$n" "$signal" "$(random_us 0 3000000)" '^Starting download' 1
            fi
        done
    done
done

# --- the adapter unplugged ----------------------------------------------------------------------
# unplug NAME DELAY_US PATTERN COUNT: a run during which can0's card is hot-removed DELAY_US after
# the tool's stdout has COUNT lines matching PATTERN; the card comes back afterwards.
unplug() {
    set_can can0 1000000 up
    can0_state >"$out/$1.before"
    card=$(readlink -f /sys/class/net/can0/device)
    start_hand "$1" normal
    act_at "$1" "$2" 'echo 1 >"$card/remove"' "$3" "$4" &
    remover=$!
    tool_pid "$1" 12
    wait $remover
    stop_hand "$1"
    echo 1 >/sys/bus/pci/rescan
    waited=0
    while [ ! -e /sys/class/net/can0 ] && [ $waited -lt 500 ]; do
        usleep 10000
        waited=$((waited + 1))
    done
}
# The node answers for about a second after the first query, then is off for five.
unplug unplug-on 300000 '^USERMESSAGEPlease power off' 1
unplug unplug-off 3000000 '^USERMESSAGEPlease power off' 1
unplug unplug-down 0 '^DOWNPROG' 5
exit 0
