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
# the events of a change made afterwards, which show the monitor works), NAME.moment (when the
# signal or the removal came, as uptime) and boot.uptime (the uptime at which this script began).
set -u
uptime_s() { cut -d' ' -f1 /proc/uptime; }
uptime_s >"$VCAN_OUT/boot.uptime"
. ./guest-lib.sh
big=firmware-200.hex
small=tiny.hex

# set_can IFACE RATE up|down: the interface down, at RATE, then up or left down.
set_can() {
    "$iproute" link set "$1" down &&
        "$iproute" link set "$1" type can bitrate "$2" &&
        "$iproute" link set "$1" "$3"
}

# wait_for NAME PATTERN COUNT: until run NAME's stdout has COUNT lines matching PATTERN, or the
# run has ended (at most 120 s).
wait_for() {
    waited=0
    while [ "$(cat "$out/$1.stdout" 2>/dev/null | grep -c "$2")" -lt "$3" ] &&
        [ ! -e "$out/$1.status" ] && [ $waited -lt 6000 ]; do
        usleep 20000
        waited=$((waited + 1))
    done
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

# The tool started so that its pid is known, with the signal dispositions of a foreground command.
tool_pid() {
    rm -f /tmp/tool.pid
    tool "$1" sh -c 'echo $$ >/tmp/tool.pid; exec nodletflash 12 "$0"' "$2"
}
wait_pid() {
    while [ ! -s /tmp/tool.pid ]; do usleep 1000; done
}

"$iproute" link set can1 type can bitrate 1000000 && "$iproute" link set can1 up ||
    { echo "cannot bring can1 up"; exit 1; }

# --- can0 as the driver left it ---------------------------------------------------------------
image=$small
can0_state >"$out/fresh.before"
with_hand fresh normal can1

# --- can0 at another bit rate -------------------------------------------------------------------
image=$big
set_can can0 500000 up
can0_state >"$out/rate500k.before"
monitor_start rate500k
with_hand rate500k normal can1
monitor_mark rate500k
set_can can0 1000000 up
monitor_stop rate500k

# --- can0 up at 1 Mbit/s, and a second run during the download -----------------------------------
can0_state >"$out/up1m.before"
start_hand up1m normal can1
tool up1m nodletflash 12 "$big" &
first=$!
wait_for up1m '^DOWNPROG' 3
monitor_start second
can0_state >"$out/second.before"
tool second nodletflash 13 "$big"
monitor_mark second
wait $first
monitor_stop second
stop_hand up1m

# --- a node that never answers --------------------------------------------------------------------
can0_state >"$out/silent.before"
with_hand silent never-answers can1

# --- signals ------------------------------------------------------------------------------------
# kill_at NAME SIGNAL handshake|download: in the background, sends SIGNAL to the tool at a random
# moment of the handshake (within 6 s of its start; the node answers again after about 6 s) or
# of the download (within 3 s of its first line).
kill_at() {
    if [ "$3" = handshake ]; then
        delay=$(random_us 0 6000000)
        wait_pid
    else
        delay=$(random_us 0 3000000)
        wait_for "$1" '^Starting download' 1
    fi
    usleep "$delay"
    echo "$(uptime_s) after ${delay} us" >"$out/$1.moment"
    kill -"$2" "$(cat /tmp/tool.pid)"
}
n=0
for stage in handshake download; do
    for signal in INT TERM; do
        for initial in up down; do
            n=$((n + 1))
            set_can can0 1000000 "$initial"
            can0_state >"$out/sig$n.before"
            echo "SIG$signal $stage" >"$out/sig$n.signal"
            start_hand "sig$n" normal can1
            kill_at "sig$n" "$signal" "$stage" &
            killer=$!
            tool_pid "sig$n" "$big"
            wait $killer
            stop_hand "sig$n"
        done
    done
done

# --- the adapter unplugged ----------------------------------------------------------------------
# unplug_at NAME DELAY_US PATTERN COUNT: in the background, hot-removes can0's card DELAY_US
# after the tool's stdout has COUNT lines matching PATTERN.
unplug_at() {
    card=$(readlink -f /sys/class/net/can0/device)
    wait_pid
    wait_for "$1" "$3" "$4"
    usleep "$2"
    uptime_s >"$out/$1.moment"
    echo 1 >"$card/remove"
}
# unplug NAME DELAY_US PATTERN COUNT: a run during which can0's card is removed; the card
# comes back afterwards.
unplug() {
    name=$1
    shift
    set_can can0 1000000 up
    can0_state >"$out/$name.before"
    start_hand "$name" normal can1
    unplug_at "$name" "$@" &
    remover=$!
    tool_pid "$name" "$big"
    wait $remover
    stop_hand "$name"
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
