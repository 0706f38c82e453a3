#!/bin/sh
# Guest side of the download test (see download-test.sh, which checks what this leaves behind).
# Runs the real nodletflash, as root, against virtual-hand on can0:
#   download  a full download of firmware-100k.hex by a hand that is power-cycled, during
#             which a second run (second) tries the same interface for node 13
#   silent    a node that never answers: the whole attempt budget
#   sigint-handshake, sigterm-download, sigterm-down-handshake
#             runs ended by a signal during the handshake or the download, the last one on a
#             can0 that was down when it began
#   nocap     a run without CAP_NET_ADMIN (as nobody)
#   nocan0    a run when can0 does not exist
# For each it leaves in $VCAN_OUT: NAME.stdout, NAME.stderr, NAME.status, NAME.seconds (the
# tool's run time), NAME.can0 (up or down afterwards) and, where a hand took part, NAME.report
# and NAME.hand-status.
set -u
out="$VCAN_OUT"
ln -s /vcan/nodletflash-static /bin/nodletflash
image=firmware-100k.hex

uptime_s() { cut -d' ' -f1 /proc/uptime; }

can0_state() {
    if ! ip link show can0 >/dev/null 2>&1; then
        echo absent
    elif ip link show can0 | head -n1 | grep -q '[<,]UP[,>]'; then
        echo up
    else
        echo down
    fi
}

# tool NAME COMMAND...: runs the tool, keeping its output, status and run time.
tool() {
    name="$1"
    shift
    start=$(uptime_s)
    errors="$out/$name.stderr"
    [ "$1" = signalled ] && errors=/dev/null
    "$@" >"$out/$name.stdout" 2>"$errors" </dev/null
    echo $? >"$out/$name.status"
    end=$(uptime_s)
    echo "$start $end" | awk '{ printf "%.2f\n", $2 - $1 }' >"$out/$name.seconds"
    can0_state >"$out/$name.can0"
    echo "$name: status $(cat "$out/$name.status") after $(cat "$out/$name.seconds") s"
}

# run_tool: the tool on node 12.
run_tool() {
    nodletflash 12 "$image"
}

# signalled SIGNAL WHEN: runs the tool and sends it SIGNAL WHEN seconds after its start, or, for
# "download", a second into the download; the status is then the shell's 128 + the signal. The
# tool runs in the foreground: a background command of a script starts with SIGINT ignored. Its
# standard error goes to NAME.stderr here, apart from the shell's own notice of the signal.
signalled() {
    (
        if [ "$2" = download ]; then
            waited=0
            until grep -q '^DOWNPROG' "$out/$name.stdout" || [ $waited -ge 6000 ]; do
                usleep 20000
                waited=$((waited + 1))
            done
            sleep 1
        else
            sleep "$2"
        fi
        kill -"$1" $(pidof nodletflash)
    ) &
    killer=$!
    nodletflash 12 "$image" 2>"$out/$name.stderr"
    status=$?
    wait $killer
    return $status
}

# second_run: once the download on the bus has begun, a second run for node 13 as "second".
second_run() {
    waited=0
    until grep -q '^DOWNPROG' "$out/download.stdout" 2>/dev/null || [ $waited -ge 6000 ]; do
        usleep 20000
        waited=$((waited + 1))
    done
    start=$(uptime_s)
    nodletflash 13 "$image" >"$out/second.stdout" 2>"$out/second.stderr" </dev/null
    echo $? >"$out/second.status"
    echo "$start $(uptime_s)" | awk '{ printf "%.2f\n", $2 - $1 }' >"$out/second.seconds"
}

# with_hand NAME SCENARIO [COMMAND...]: runs the tool on node 12 (or COMMAND, run_tool by
# default) against a virtual hand. The hand runs on CPU 0; the tool pins itself to the last CPU.
with_hand() {
    name="$1"
    scenario="$2"
    shift 2
    [ $# -gt 0 ] || set -- run_tool
    rm -f /tmp/hand-ready
    taskset 1 ./virtual-hand --scenario="$scenario" --report="$out/$name.report" --ready=/tmp/hand-ready 12 &
    hand=$!
    waited=0
    while [ ! -e /tmp/hand-ready ] && [ $waited -lt 500 ]; do
        usleep 10000
        waited=$((waited + 1))
    done
    tool "$name" "$@"
    kill -TERM $hand
    wait $hand
    echo $? >"$out/$name.hand-status"
}

second_run &
second=$!
with_hand download normal
wait $second
with_hand silent never-answers

with_hand sigint-handshake normal signalled INT 3
with_hand sigterm-download normal signalled TERM download
ip link set can0 down
with_hand sigterm-down-handshake normal signalled TERM 3
ip link set can0 up

echo "nobody:x:65534:65534:nobody:/:/bin/sh" >>/etc/passwd
echo "nogroup:x:65534:" >>/etc/group
tool nocap su -s /bin/sh -c "exec nodletflash 12 $image" nobody

ip link del can0
tool nocan0 nodletflash 12 "$image"
exit 0
