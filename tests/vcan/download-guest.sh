#!/bin/sh
# Guest side of the download test (see download-test.sh, which checks what this leaves behind).
# Runs the real nodletflash, as root, against virtual-hand on can0:
#   download  a full download of firmware-100k.hex by a hand that is power-cycled
#   silent    a node that never answers: the whole attempt budget
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
    "$@" >"$out/$name.stdout" 2>"$out/$name.stderr" </dev/null
    echo $? >"$out/$name.status"
    end=$(uptime_s)
    echo "$start $end" | awk '{ printf "%.2f\n", $2 - $1 }' >"$out/$name.seconds"
    can0_state >"$out/$name.can0"
    echo "$name: status $(cat "$out/$name.status") after $(cat "$out/$name.seconds") s"
}

# with_hand NAME SCENARIO: runs the tool on node 12 against a virtual hand. The hand runs on CPU
# 0; the tool pins itself to the last CPU.
with_hand() {
    name="$1"
    rm -f /tmp/hand-ready
    taskset 1 ./virtual-hand --scenario="$2" --report="$out/$1.report" --ready=/tmp/hand-ready 12 &
    hand=$!
    waited=0
    while [ ! -e /tmp/hand-ready ] && [ $waited -lt 500 ]; do
        usleep 10000
        waited=$((waited + 1))
    done
    tool "$name" nodletflash 12 "$image"
    kill -TERM $hand
    wait $hand
    echo $? >"$out/$name.hand-status"
}

with_hand download normal
with_hand silent never-answers

echo "nobody:x:65534:65534:nobody:/:/bin/sh" >>/etc/passwd
echo "nogroup:x:65534:" >>/etc/group
tool nocap su -s /bin/sh -c "exec nodletflash 12 $image" nobody

ip link del can0
tool nocan0 nodletflash 12 "$image"
exit 0
