#!/bin/sh
# Guest side of the arm64 test (see arm64-test.sh, which checks what this leaves behind). Runs
# the arm64 build's programs, as root, on can0:
#   download          a full download of firmware-100k.hex against virtual-hand, power-cycled
#   sigterm-download  a run ended by SIGTERM during the download: can0 must be up again
#   sigterm-down      the same on a can0 that was down when the run began: down again
#   guide             a rehearsal of the guide with the virtual hand (virtual clock), tiny.hex
# For each it leaves in $VCAN_OUT the files guest-lib.sh describes.
set -u
image=firmware-100k.hex
. ./guest-lib.sh
# The administrator's choice of the hand's adapter: the tool takes no interface by itself when
# none is driven by peak_usb.
printf '# the hand'"'"'s adapter\ninterface = can0\n' >/etc/nodletflash.conf
chmod 0644 /etc/nodletflash.conf

with_hand download normal
signalled sigterm-download TERM 1000000 '^DOWNPROG' 1
ip link set can0 down
signalled sigterm-down TERM 1000000 '^DOWNPROG' 1
ip link set can0 up

tool guide ./nodletflash-guide-static --rehearse --sim=./nodletflash-sim-static --sim-clock=virtual \
    --no-log 12 tiny.hex
exit 0
