#!/bin/sh
# /init of the vcan test guest. Loads the CAN modules, creates can0 as a vcan
# interface (or, booted with "canbus=sja1000" on the kernel command line,
# binds the emulated SJA1000 controllers, which become can0 and can1, down and
# with no bit rate) and runs the caller's script (/vcan/guest.sh, from run.sh's
# payload) with its output on the second serial port, framed by marker lines
# that run.sh reads on the host:
#   @@vcan-guest-begin
#   ...the script's stdout and stderr...
#   @@vcan-guest-end STATUS
#   @@vcan-out-begin / base64 of a tar of /out / @@vcan-out-end   (if /out has files)
#   @@vcan-done
# A failure before the script runs is reported as "@@vcan-setup-failed WHAT".
# The kernel's own messages stay on the first serial port (the console).
export PATH=/bin
export HOME=/root

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /root /out
mount -t tmpfs tmpfs /tmp
# Where programs keep their lock files, as on Debian: writable by all, sticky.
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -m 1777 /run/lock

# The report goes to the second serial port, or where "vcan_out=DEVICE" on the kernel command
# line says (the arm64 guest's virtio console, hvc0, whose modules are loaded first).
out=/dev/ttyS1
for word in $(cat /proc/cmdline); do
    case "$word" in
    vcan_out=*) out="/dev/${word#vcan_out=}" ;;
    esac
done
if [ -f /lib/modules/load-order.early ]; then
    for m in $(cat /lib/modules/load-order.early); do
        insmod "/lib/modules/$m.ko"
    done
    waited=0
    while [ ! -e "$out" ] && [ $waited -lt 100 ]; do
        usleep 50000
        waited=$((waited + 1))
    done
fi
# Raw, so the script's bytes travel unchanged (no LF -> CR LF).
# Held open throughout: a virtio console forgets its settings when it is last closed.
exec 9>"$out"
stty -F "$out" raw -echo 2>/dev/null
say() { echo "$*" >"$out"; }

halt_guest() {
    sync
    poweroff -f
    # Not reached unless poweroff failed; qemu runs with -no-reboot.
    reboot -f
}

setup_failed() {
    say "@@vcan-setup-failed $*"
    halt_guest
}

for m in $(cat /lib/modules/load-order); do
    insmod "/lib/modules/$m.ko" || setup_failed "insmod $m"
done
ip link set lo up
if grep -qw 'canbus=sja1000' /proc/cmdline; then
    for m in $(cat /lib/modules/load-order.controllers); do
        insmod "/lib/modules/$m.ko" || setup_failed "insmod $m"
    done
    for dev in can0 can1; do
        [ -e "/sys/class/net/$dev" ] || setup_failed "no $dev after loading the controller drivers"
    done
else
    ip link add dev can0 type vcan || setup_failed "ip link add can0 type vcan"
    ip link set can0 up || setup_failed "ip link set can0 up"
fi

[ -f /vcan/guest.sh ] || setup_failed "no /vcan/guest.sh in the payload"
cd /vcan
say "@@vcan-guest-begin"
VCAN_OUT=/out sh /vcan/guest.sh >"$out" 2>&1 </dev/null
status=$?
# The newline ends a last line the script left open; run.sh drops it.
printf '\n@@vcan-guest-end %d\n' "$status" >"$out"

if [ -n "$(ls -A /out)" ]; then
    say "@@vcan-out-begin"
    tar -C /out -cf - . | base64 >"$out"
    say "@@vcan-out-end"
fi
say "@@vcan-done"
halt_guest
