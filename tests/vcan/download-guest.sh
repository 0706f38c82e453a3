#!/bin/sh
# Guest side of the download test (see download-test.sh, which checks what this leaves behind).
# Runs the real nodletflash, as root, against virtual-hand on can0:
#   download  a full download of firmware-100k.hex by a hand that is power-cycled, during
#             which a second run (second) tries the same interface for node 13
#   silent    a node that never answers: the whole attempt budget
#   sigint-handshake, sigterm-download, sigterm-down-handshake
#             runs ended by a signal during the handshake or the download, the last one on a
#             can0 that was down when it began
#   unplug-handshake, unplug-download
#             can0 removed (as an unplugged adapter's interface vanishes) during the handshake
#             or the download
#   nocap     a run without CAP_NET_ADMIN (as nobody)
#   nocan0    a run when can0 does not exist
# For each it leaves in $VCAN_OUT the files guest-lib.sh describes.
set -u
image=firmware-100k.hex
. ./guest-lib.sh

second_run second download &
second=$!
with_hand download normal
wait $second
with_hand silent never-answers

signalled sigint-handshake INT 3000000
signalled sigterm-download TERM 1000000 '^DOWNPROG' 1
ip link set can0 down
signalled sigterm-down-handshake TERM 3000000
ip link set can0 up

# The hand's socket goes with can0; a new can0 is made for the next run.
acted_on unplug-handshake 'ip link del can0' 3000000
ip link add dev can0 type vcan
ip link set can0 up
acted_on unplug-download 'ip link del can0' 1000000 '^DOWNPROG' 1
ip link add dev can0 type vcan
ip link set can0 up

echo "nobody:x:65534:65534:nobody:/:/bin/sh" >>/etc/passwd
echo "nogroup:x:65534:" >>/etc/group
tool nocap su -s /bin/sh -c "exec nodletflash 12 $image" nobody

ip link del can0
tool nocan0 nodletflash 12 "$image"
exit 0
