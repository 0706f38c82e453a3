#!/bin/sh
# Guest side of the SJA1000 test (see sja1000-test.sh, which checks what this leaves behind).
# can0 and can1 are two emulated SJA1000 controllers on one bus, bound by Debian's kvaser_pci
# driver: the real nodletflash runs on can0 as the unprivileged account nobody, from a copy that
# holds cap_net_admin and cap_sys_nice as the package grants them; virtual-hand runs on can1.
# /etc/nodletflash.conf names can0 except where a run says otherwise. Runs:
#   fresh         can0 as the driver left it (down, no bit rate): a download of tiny.hex
#   rate500k      can0 up at 500 kbit/s: refused, can0 untouched
#   up1m          can0 up at 1 Mbit/s: a download of firmware-200.hex, during which
#   second        a second run, for node 13, is started
#   noconf        can0 up at 1 Mbit/s and no configuration file: refused, can0 untouched
#   conf-owner    a configuration file owned by nobody,
#   conf-mode     one that every account may write,
#   conf-twice    and one that names two interfaces: none of them counts, and with can1 shown
#                 to the tool as a PEAK USB adapter (the fallback without a file) the run is
#                 refused all the same, touching neither can0 nor can1
#   conf-notcan   a configuration file that names lo, no CAN interface: refused, lo untouched
#   lock-none     no /run/nodletflash: no lock, refused, can0 untouched
#   lock-open     /run/nodletflash writable by every account: the same
#   nlcb          NLCB=debug NLDBG=4 in the environment: a download of tiny.hex as any other
#   silent        a node that never answers
#   sigN          SIGINT, SIGTERM, SIGUSR1 or SIGALRM at a random moment of the handshake, or
#                 SIGINT or SIGTERM in the download, can0 up at 1 Mbit/s or down at 500 kbit/s
#                 at the start
#   stuck-up      can0 up at 1 Mbit/s, and
#   stuck-500k    can0 down at 500 kbit/s at the start: SIGTERM, SIGUSR1 while the tool is held
#                 with can0 down (after its final close, in a write to a full pipe)
#   unplug-on     can0's card hot-removed while the node still answers,
#   unplug-off    while the node is off,
#   unplug-down   and during the download; the card comes back between runs
# Besides the files guest-lib.sh describes it leaves NAME.before (can0's state before the run),
# NAME.before-timing (can0_timing before it), NAME.monitor (the link events of `ip monitor link`
# during the run, then a line "@@after" and the events of a change made afterwards, which show
# the monitor works), NAME.signal (the signal and the stage aimed at), for the stuck runs
# NAME.held (can0's state while the tool was held), and boot.uptime (the uptime at which this
# script began) and autogroup (the kernel's sched_autogroup_enabled).
set -u
cut -d' ' -f1 /proc/uptime >"$VCAN_OUT/boot.uptime"
. ./guest-lib.sh
hand_interface=can1
unprivileged_tool
cat /proc/sys/kernel/sched_autogroup_enabled >"$VCAN_OUT/autogroup" 2>&1
big=firmware-200.hex
small=tiny.hex

# set_can IFACE RATE up|down: the interface down, at RATE, then up or left down.
set_can() {
    "$iproute" link set "$1" down &&
        "$iproute" link set "$1" type can bitrate "$2" &&
        "$iproute" link set "$1" "$3"
}

# before NAME: can0's state and timing before run NAME.
before() {
    can0_state >"$out/$1.before"
    can0_timing >"$out/$1.before-timing"
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
before fresh
with_hand fresh normal

# --- can0 at another bit rate -------------------------------------------------------------------
image=$big
set_can can0 500000 up
before rate500k
monitor_start rate500k
with_hand rate500k normal
monitor_mark rate500k
set_can can0 1000000 up
monitor_stop rate500k

# --- can0 up at 1 Mbit/s, and a second run during the download -----------------------------------
image=$big
before up1m
start_hand up1m normal
tool up1m $tool_cmd 12 "$big" &
first=$!
wait_for up1m '^DOWNPROG' 3
monitor_start second
second_run second up1m
monitor_mark second
wait $first
monitor_stop second
stop_hand up1m

# --- no interface is the hand's: no file, or one that does not count -----------------------------
# refused NAME: with can0 up at 1 Mbit/s, as another program would have it, a run whose
# configuration was set up beforehand; the link monitor runs throughout.
refused() {
    before "$1"
    monitor_start "$1"
    with_hand "$1" normal
    monitor_mark "$1"
    set_can can0 1000000 up
    monitor_stop "$1"
}
image=$small
set_can can0 1000000 up
rm /etc/nodletflash.conf
refused noconf
# From here the tool's look at /sys/class/net shows can1, the hand's interface, as a PEAK USB
# adapter: where a file does not count, the tool must not fall back to it.
mkdir -p /tmp/peaknet/can1/device
ln -s /sys/bus/usb/drivers/peak_usb /tmp/peaknet/can1/device/driver
cat /sys/class/net/can1/ifindex >/tmp/peaknet/can1/ifindex
mount -o bind /tmp/peaknet /sys/class/net || { echo "cannot show can1 as a PEAK adapter"; exit 1; }
basename "$(readlink /sys/class/net/can1/device/driver)" >"$out/peak-shown"
name_interface can0
chown 65534:65534 /etc/nodletflash.conf
refused conf-owner
name_interface can0
chmod 0666 /etc/nodletflash.conf
refused conf-mode
printf 'interface = can0\ninterface = can1\n' >/etc/nodletflash.conf
refused conf-twice
umount /sys/class/net
name_interface lo
refused conf-notcan
name_interface can0

# --- no lock directory, or one every account may write: no lock, no run ----------------------------
mv /run/nodletflash /run/nodletflash.away
refused lock-none
mv /run/nodletflash.away /run/nodletflash
chmod 1777 /run/nodletflash
refused lock-open
lock_directory

# --- the environment changes nothing ----------------------------------------------------------
image=$small
before nlcb
start_hand nlcb normal
tool nlcb env NLCB=debug NLDBG=4 $tool_cmd 12 "$image"
stop_hand nlcb

# --- a node that never answers --------------------------------------------------------------------
before silent
with_hand silent never-answers

# --- signals ------------------------------------------------------------------------------------
# At a random moment of the handshake (within 6 s of the tool's start; the node answers again
# after about 6 s) or of the download (within 3 s of its first line). can0 is found up at
# 1 Mbit/s or down at 500 kbit/s: the run sets 1 Mbit/s on the latter, which the end puts back.
image=$big
n=0
for stage in handshake download; do
    signals="INT TERM USR1 ALRM"
    [ $stage = download ] && signals="INT TERM"
    for signal in $signals; do
        for initial in "up 1000000" "down 500000"; do
            n=$((n + 1))
            set -- $initial
            set_can can0 "$2" "$1"
            before "sig$n"
            echo "SIG$signal $stage" >"$out/sig$n.signal"
            if [ $stage = handshake ]; then
                signalled "sig$n" "$signal" "$(random_us 0 6000000)"
            else
                signalled "sig$n" "$signal" "$(random_us 0 3000000)" '^Starting download' 1
            fi
        done
    done
done

# --- a signal while can0 is known to be down ---------------------------------------------------
# Within a probe can0 is down for well under a millisecond. After the download's final close it
# stays down until the process ends: the run's standard output is a pipe left so full that the
# next message after "Closing CAN connection..." cannot be written, so the tool waits there with
# can0 down until the signal comes.
# stuck NAME SIGNAL STATE RATE: can0 found in STATE at RATE; tiny.hex downloaded to node 12.
stuck() {
    image=$small
    set_can can0 "$4" "$3"
    before "$1"
    echo "SIG$2 held" >"$out/$1.signal"
    # Bytes the run prints up to its final close: those of the fresh run, the same download.
    upto=$(sed '/^Closing CAN connection/q' "$out/fresh.stdout" | wc -c)
    # A pipe holds 16 pages; each message is written whole, into the last page when it fits
    # there. Filled to 10 bytes short of the end after the close, the next message must wait.
    fill=$((65536 - 10 - upto))
    rm -f /tmp/stdout.fifo
    mkfifo /tmp/stdout.fifo
    exec 7<>/tmp/stdout.fifo
    head -c "$fill" /dev/zero >/tmp/stdout.fifo
    start_hand "$1" normal
    rm -f /tmp/tool.pid
    (exec sh -c 'echo $$ >/tmp/tool.pid; exec '"$tool_cmd"' 12 "$0"' "$image" \
        >/tmp/stdout.fifo 2>"$out/$1.stderr" </dev/null) &
    runner=$!
    wait_pid
    pid=$(cat /tmp/tool.pid)
    waited=0
    while [ "$(cat /proc/$pid/wchan 2>/dev/null)" != pipe_write ] && [ $waited -lt 3000 ]; do
        usleep 20000
        waited=$((waited + 1))
    done
    usleep 200000
    echo "$(cat /proc/$pid/wchan 2>/dev/null) $(can0_state)" >"$out/$1.held"
    echo "$(uptime_s) while held" >"$out/$1.moment"
    kill -"$2" "$pid"
    wait $runner
    echo $? >"$out/$1.status"
    uptime_s >"$out/$1.ended"
    dd bs=65536 count=1 <&7 2>/dev/null | tail -c +$((fill + 1)) >"$out/$1.stdout"
    exec 7<&-
    can0_state >"$out/$1.can0"
    "$iproute" -details link show can0 >"$out/$1.can0-details" 2>&1
    can0_timing >"$out/$1.timing"
    stop_hand "$1"
    echo "$1: status $(cat "$out/$1.status"), held: $(cat "$out/$1.held"), can0 $(cat "$out/$1.can0")"
}
stuck stuck-up TERM up 1000000
stuck stuck-500k USR1 down 500000

image=$big

# --- the adapter unplugged ----------------------------------------------------------------------
# unplug NAME DELAY_US PATTERN COUNT: a run during which can0's card is hot-removed DELAY_US after
# the tool's stdout has COUNT lines matching PATTERN; the card comes back afterwards.
unplug() {
    set_can can0 1000000 up
    before "$1"
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
