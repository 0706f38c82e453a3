# Helpers shared by the guest scripts that run the real nodletflash; sourced from /vcan. Each run
# NAME leaves in $VCAN_OUT: NAME.stdout, NAME.stderr, NAME.status, NAME.seconds (the tool's run
# time), NAME.ended (the uptime it ended at), NAME.can0 (can0's state afterwards: "absent", or
# "up" or "down" followed by the bit rate when it has one) and NAME.can0-details; where a hand took
# part, NAME.report and NAME.hand-status.
out="$VCAN_OUT"
[ -e /bin/nodletflash ] || ln -s /vcan/nodletflash-static /bin/nodletflash
# iproute2's; busybox's ip knows nothing of CAN.
iproute=/usr/sbin/ip

uptime_s() { cut -d' ' -f1 /proc/uptime; }

can0_state() {
    if ! ip link show can0 >/dev/null 2>&1; then
        echo absent
        return
    fi
    state=down
    ip link show can0 | head -n1 | grep -q '[<,]UP[,>]' && state=up
    rate=$("$iproute" -details link show can0 | sed -n 's/.* bitrate \([0-9]*\).*/\1/p' | head -n1)
    echo "$state${rate:+ $rate}"
}

# tool NAME COMMAND...: runs the tool, keeping its output, status, run time and can0's state.
tool() {
    name="$1"
    shift
    start=$(uptime_s)
    # In a subshell that becomes the tool: a shell that reports a signal which ended its
    # command does so on its own standard error, not on the tool's.
    (exec "$@" >"$out/$name.stdout" 2>"$out/$name.stderr" </dev/null)
    echo $? >"$out/$name.status"
    end=$(uptime_s)
    echo "$end" >"$out/$name.ended"
    echo "$start $end" | awk '{ printf "%.2f\n", $2 - $1 }' >"$out/$name.seconds"
    can0_state >"$out/$name.can0"
    "$iproute" -details link show can0 >"$out/$name.can0-details" 2>&1
    echo "$name: status $(cat "$out/$name.status") after $(cat "$out/$name.seconds") s, can0 $(cat "$out/$name.can0")"
}

# start_hand NAME SCENARIO [INTERFACE]: a virtual hand for node 12 in the background, on CPU 0
# (the tool pins itself to the last CPU), listening once this returns; its pid in $hand.
start_hand() {
    rm -f /tmp/hand-ready
    taskset 1 ./virtual-hand --scenario="$2" --interface="${3:-can0}" --report="$out/$1.report" \
        --ready=/tmp/hand-ready 12 &
    hand=$!
    waited=0
    while [ ! -e /tmp/hand-ready ] && [ $waited -lt 500 ]; do
        usleep 10000
        waited=$((waited + 1))
    done
}

# stop_hand NAME: ends the hand, which then writes its report.
stop_hand() {
    kill -TERM $hand
    wait $hand
    echo $? >"$out/$1.hand-status"
}

# with_hand NAME SCENARIO [INTERFACE]: runs the tool on node 12 against a virtual hand.
with_hand() {
    start_hand "$1" "$2" "${3:-can0}"
    tool "$1" nodletflash 12 "$image"
    stop_hand "$1"
}
