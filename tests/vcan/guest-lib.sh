# Helpers shared by the guest scripts that run the real nodletflash; sourced from /vcan. Each run
# NAME leaves in $VCAN_OUT: NAME.stdout, NAME.stderr, NAME.status, NAME.seconds (the tool's run
# time), NAME.ended (the uptime it ended at), NAME.can0 (can0's state afterwards: "absent", or
# "up" or "down" followed by the bit rate when it has one), NAME.can0-details and NAME.timing
# (can0_timing afterwards); where a hand took part, NAME.report and NAME.hand-status; where
# something was done to a running tool (act_at), NAME.moment (when).
out="$VCAN_OUT"
[ -e /bin/nodletflash ] || ln -s /vcan/nodletflash-static /bin/nodletflash
# iproute2's; busybox's ip knows nothing of CAN.
iproute=/usr/sbin/ip
# The virtual hand's interface.
hand_interface=can0
# How a run starts the tool; unprivileged_tool makes it an unprivileged account's.
tool_cmd=nodletflash

# name_interface NAME: /etc/nodletflash.conf names NAME as the hand's interface, as an
# administrator writes it (root's, writable by nobody else). No interface is taken without it:
# can0 here is no PEAK adapter.
name_interface() {
    printf '# The hand on the test bus.\ninterface = %s\n' "$1" >/etc/nodletflash.conf
    chown 0:0 /etc/nodletflash.conf
    chmod 0644 /etc/nodletflash.conf
}
name_interface can0

# lock_directory: /run/nodletflash as the package makes it, with nobody's group (65534) as the
# tool's group; without it the tool takes no lock and does not run.
lock_directory() {
    mkdir -p /run/nodletflash
    chown 0:65534 /run/nodletflash
    chmod 3770 /run/nodletflash
}
lock_directory

# unprivileged_tool: from now on the tool runs as nobody, from a root-owned copy that holds
# cap_net_admin and cap_sys_nice as the package grants them.
unprivileged_tool() {
    mkdir -p /tmp/bin
    cp /vcan/nodletflash-static /tmp/bin/nodletflash
    chmod 0755 /tmp/bin/nodletflash
    /usr/sbin/setcap cap_net_admin,cap_sys_nice+ep /tmp/bin/nodletflash ||
        { echo "setcap failed"; exit 1; }
    tool_cmd="/usr/sbin/setpriv --reuid=65534 --regid=65534 --clear-groups /tmp/bin/nodletflash"
}

uptime_s() { cut -d' ' -f1 /proc/uptime; }

can0_state() {
    if ! ip link show can0 >/dev/null 2>&1; then
        echo absent
        return
    fi
    state=down
    ip link show can0 | head -n1 | grep -q '[<,]UP[,>]' && state=up
    # A guest without iproute2 (the arm64 one, on vcan) has no bit rate to tell.
    rate=""
    [ -x "$iproute" ] &&
        rate=$("$iproute" -details link show can0 | sed -n 's/.* bitrate \([0-9]*\).*/\1/p' | head -n1)
    echo "$state${rate:+ $rate}"
}

# can0_timing: can0's up flag and bit timing as `ip -details link show` gives them.
can0_timing() {
    "$iproute" -details link show can0 2>&1 |
        grep -o '[<,]UP[,>]\|bitrate [0-9]* sample-point [0-9.]*\|tq [0-9]* prop-seg [0-9]* phase-seg1 [0-9]* phase-seg2 [0-9]* sjw [0-9]*' |
        tr '\n' ' '
    echo
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
    can0_timing >"$out/$name.timing"
    echo "$name: status $(cat "$out/$name.status") after $(cat "$out/$name.seconds") s, can0 $(cat "$out/$name.can0")"
}

# tool_pid NAME NODE: the tool on NODE and $image, started so that its pid is in /tmp/tool.pid
# and with the signal dispositions of a foreground command (a background command of a script
# starts with SIGINT ignored).
tool_pid() {
    rm -f /tmp/tool.pid
    tool "$1" sh -c 'echo $$ >/tmp/tool.pid; exec '"$tool_cmd"' "$0" "$1"' "$2" "$image"
}
wait_pid() {
    while [ ! -s /tmp/tool.pid ]; do usleep 1000; done
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

# act_at NAME DELAY_US ACTION [PATTERN COUNT]: for a run started by tool_pid, evaluates ACTION
# DELAY_US after the tool started, or after its stdout has COUNT lines matching PATTERN, and
# notes the moment in NAME.moment. Meant to run in the background.
act_at() {
    wait_pid
    [ $# -gt 3 ] && wait_for "$1" "$4" "$5"
    usleep "$2"
    echo "$(uptime_s) after $2 us" >"$out/$1.moment"
    eval "$3"
}

# start_hand NAME SCENARIO: a virtual hand for node 12 in the background, on CPU 0 (the tool pins
# itself to the last CPU), listening once this returns; its pid in $hand.
start_hand() {
    rm -f /tmp/hand-ready
    taskset 1 ./virtual-hand --scenario="$2" --interface="$hand_interface" \
        --report="$out/$1.report" --ready=/tmp/hand-ready 12 &
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

# with_hand NAME SCENARIO: runs the tool on node 12 against a virtual hand.
with_hand() {
    start_hand "$1" "$2"
    tool "$1" $tool_cmd 12 "$image"
    stop_hand "$1"
}

# acted_on NAME ACTION DELAY_US [PATTERN COUNT]: the tool on node 12 against a virtual hand, with
# ACTION done to it as act_at says.
acted_on() {
    start_hand "$1" normal
    if [ $# -gt 3 ]; then
        act_at "$1" "$3" "$2" "$4" "$5" &
    else
        act_at "$1" "$3" "$2" &
    fi
    actor=$!
    tool_pid "$1" 12
    wait $actor
    stop_hand "$1"
}

# signalled NAME SIGNAL DELAY_US [PATTERN COUNT]: the tool sent SIGNAL (see acted_on).
signalled() {
    name=$1
    signal=$2
    shift 2
    acted_on "$name" "kill -$signal \$(cat /tmp/tool.pid)" "$@"
}

# second_run NAME FIRST: once run FIRST has begun its download, a run for node 13 as NAME.
second_run() {
    wait_for "$2" '^DOWNPROG' 1
    can0_state >"$out/$1.before"
    tool "$1" $tool_cmd 13 "$image"
}
