#!/bin/sh
# Guest side of the download test (see download-test.sh, which checks what this leaves behind).
# Runs the real nodletflash, as root, against virtual-hand on can0:
#   download  a full download of firmware-100k.hex by a hand that is power-cycled
#   silent    a node that never answers: the whole attempt budget
#   nocap     a run without CAP_NET_ADMIN (as nobody)
#   nocan0    a run when can0 does not exist
# For each it leaves in $VCAN_OUT the files guest-lib.sh describes.
set -u
image=firmware-100k.hex
. ./guest-lib.sh

with_hand download normal
with_hand silent never-answers

echo "nobody:x:65534:65534:nobody:/:/bin/sh" >>/etc/passwd
echo "nogroup:x:65534:" >>/etc/group
tool nocap su -s /bin/sh -c "exec nodletflash 12 $image" nobody

ip link del can0
tool nocan0 nodletflash 12 "$image"
exit 0
