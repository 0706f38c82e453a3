#!/bin/sh
# Guest side of the nodletflash-check test: the computer checks on a real kernel CAN stack, with
# can0 a vcan interface. Each case runs the check on the sample and judges its status and lines.
. ./check-guest-lib.sh

tool=/vcan/nodletflash-static
args="--tool=$tool --listen-ms=500 12 firmware.hex"

# can0 is no PEAK adapter: the tool takes it only when the configuration file names it.
run unnamed $args
expect_status unnamed 1
has unnamed '^problem interface: the tool would use no interface: none has the peak_usb driver and /etc/nodletflash.conf names none'

name_can0
lock_directory
run quiet $args
expect_status quiet 0
has quiet '^ok interface: the tool would use can0 \(named in /etc/nodletflash.conf\)$'
has quiet '^warning driver: can0 is a virtual interface'
has quiet '^ok interface: can0 is up \(a virtual interface'
has quiet '^ok privileges: running as root'
has quiet '^ok lock: no other run holds can0 \(/run/nodletflash/can0.lock\)$'
has quiet '^ok bus: no frames in 500 ms$'
lacks quiet '^problem'

./check-guest-helper chatter can0 3000 >"$VCAN_OUT/chatter.out" &
chatter=$!
usleep 300000
run chatter $args
wait $chatter
expect_status chatter 1
# A frame every 0.5 ms, give or take the guest's timer: well over 500 in 500 ms.
has chatter '^problem bus: frames in 500 ms: 0x123: [0-9]{3,4} frames \([0-9.]+/s\)\. Every frame counts as the node'"'"'s go-ahead'

# The tool itself holds the interface: with no hand it sits in the handshake for a minute.
"$tool" 12 firmware.hex >"$VCAN_OUT/tool.out" 2>&1 &
flash=$!
usleep 500000
run locked $args
expect_status locked 1
has locked '^problem lock: process [0-9]+ \(nodletflash-sta, user [a-z0-9 ]+\) holds the lock of can0 now'
kill -TERM $flash
wait $flash

run nobody --as-nobody $args
expect_status nobody 1
has nobody '^problem privileges: the tool lacks cap_net_admin and you are not root'
has nobody '^problem priority: the tool lacks cap_sys_nice and RLIMIT_NICE is 0 '
has nobody 'setcap cap_net_admin,cap_sys_nice\+ep /vcan/nodletflash-static'

setup_accounts
access_cases

ip link set can0 down
run down $args
expect_status down 0
has down '^ok interface: can0 is down: the tool brings it up for the run'
has down '^warning bus: not listened to: can0 is down'
ip link set can0 up

ip link delete can0
run missing $args
expect_status missing 1
has missing '^problem interface: the tool would use can0 \(named in /etc/nodletflash.conf\), and there is none$'
exit $status
