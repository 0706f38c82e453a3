#!/bin/sh
# Guest side of the nodletflash-check test on a real CAN controller driver: can0 and can1 are two
# emulated SJA1000 controllers on one bus (kvaser_pci), can0 the tool's, can1 another device.
. ./check-guest-lib.sh
ip=/usr/sbin/ip

# set_can IFACE RATE up|down
set_can() {
    "$ip" link set "$1" down && "$ip" link set "$1" type can bitrate "$2" && "$ip" link set "$1" "$3"
}

tool=/vcan/nodletflash-static
args="--tool=$tool --listen-ms=500 12 firmware.hex"
lock_directory

# can0 is no PEAK adapter: unnamed, the tool leaves it alone.
run unnamed $args
expect_status unnamed 1
has unnamed '^problem interface: the tool would use no interface'
lacks unnamed '^ok controller'

# A configuration file another account may write does not count.
name_can0
chmod 0666 /etc/nodletflash.conf
run writable $args
expect_status writable 1
has writable '^problem config: /etc/nodletflash.conf does not count: /etc/nodletflash.conf is writable by every account\.'
has writable '^problem interface: the tool would use no interface: /etc/nodletflash.conf exists but does not count'
chmod 0644 /etc/nodletflash.conf

# As the driver left it: down, no bit rate.
run fresh $args
expect_status fresh 0
has fresh '^ok interface: the tool would use can0 \(named in /etc/nodletflash.conf\)$'
has fresh '^warning driver: can0 is driven by kvaser_pci, not peak_usb'
has fresh '^ok interface: can0 is down: the tool sets 1 Mbit/s, brings it up for the run'
has fresh '^ok controller: controller stopped'
has fresh '^warning bus: not listened to: can0 is down'

set_can can0 500000 up
run rate500k $args
expect_status rate500k 1
has rate500k '^problem interface: can0 is up at 500 kbit/s: the tool needs 1000 kbit/s'

set_can can0 1000000 up
set_can can1 1000000 up
run up1m $args
expect_status up1m 0
has up1m '^ok interface: can0 is up at 1000 kbit/s$'
has up1m '^ok controller: controller error-active, error counters: transmit 0, receive 0$'
has up1m '^ok bus: no frames in 500 ms$'

./check-guest-helper chatter can1 3000 >"$VCAN_OUT/chatter.out" &
chatter=$!
usleep 300000
run chatter $args
wait $chatter
expect_status chatter 1
has chatter '^problem bus: frames in 500 ms: 0x123: [0-9]+ frames'

run nobody --as-nobody $args
expect_status nobody 1
has nobody '^problem privileges: the tool lacks cap_net_admin and you are not root'
has nobody '^problem priority: the tool lacks cap_sys_nice'

setup_accounts
access_cases
exit $status
