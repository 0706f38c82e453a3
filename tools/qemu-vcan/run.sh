#!/bin/bash
# Boots the vcan test guest (see prepare.sh) under qemu, runs a script in it
# on a real kernel CAN stack with can0 up as a vcan interface (or, with
# --sja1000, can0 and can1 on two emulated SJA1000 controllers), and exits
# with that script's status.
#
# Usage: run.sh [options] GUEST_SCRIPT [PAYLOAD...]
#   GUEST_SCRIPT  a busybox sh script; it runs as root in /vcan as /vcan/guest.sh.
#   PAYLOAD       files (static executables, data) and directories copied into
#                 /vcan under their own names, modes kept.
# Options:
#   --cache DIR     what prepare.sh made ($VCAN_CACHE, else build/vcan-cache)
#   --out DIR       keep console.log (kernel console), guest.log (raw second
#                   serial port) and files/ (whatever the script left in
#                   $VCAN_OUT, i.e. /out) in DIR; otherwise a temporary
#                   directory is used and removed
#   --timeout SEC   kill the guest after SEC seconds (default 600)
#   --memory MB     guest memory (default 512)
#   --sja1000       two Kvaser PCI cards (one SJA1000 controller each) on one
#                   emulated CAN bus instead of vcan, bound by Debian's
#                   kvaser_pci driver: can0 (PCI slot 4) and can1 (slot 5)
#                   appear down with no bit rate. iproute2's ip sets them up:
#                   call it as /usr/sbin/ip (busybox's sh prefers its own ip)
#   --arm64         the arm64 guest of prepare-arm64.sh on qemu's "virt" machine
#                   (cache default build-arm64/vcan-cache); vcan only
#
# The script's output is printed on stdout as it was written in the guest.
# The verdict comes only from the "@@vcan-guest-end STATUS" marker: qemu's
# own exit status says nothing about the guest (it is 0 after a panic too).
# Without the marker run.sh prints the end of the console log and exits 99.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
cache="${VCAN_CACHE:-$repo/build/vcan-cache}"
outdir=""
timeout_s=600
memory_mb=512
controllers=()
arm64=""
cmdline="console=ttyS0 panic=-1 quiet"

usage() {
    sed -n '2,/^set -e/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}
die() { echo "vcan-run: error: $*" >&2; exit 2; }

while [ $# -gt 0 ]; do
    case "$1" in
    --cache) cache="$2"; shift 2 ;;
    --out) outdir="$2"; shift 2 ;;
    --timeout) timeout_s="$2"; shift 2 ;;
    --memory) memory_mb="$2"; shift 2 ;;
    --sja1000)
        controllers=(-object can-bus,id=canbus0
                     -device kvaser_pci,canbus=canbus0,addr=04.0
                     -device kvaser_pci,canbus=canbus0,addr=05.0)
        cmdline="$cmdline canbus=sja1000"
        shift ;;
    --arm64)
        arm64=1
        [ -n "${VCAN_CACHE:-}" ] || cache="$repo/build-arm64/vcan-cache"
        shift ;;
    -h | --help) usage ;;
    --) shift; break ;;
    -*) die "unknown option $1" ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || usage
script="$1"
shift
[ -f "$script" ] || die "guest script $script not found"
[ -f "$cache/ready" ] || die "$cache is not prepared: run prepare.sh first"

if [ -n "$outdir" ]; then
    rm -rf "$outdir"
    mkdir -p "$outdir"
    work="$(cd "$outdir" && pwd)"
else
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
fi

# --- payload ------------------------------------------------------------------
# A second cpio archive appended to the prepared one: the kernel unpacks
# concatenated archives into the same root.
stage="$work/payload"
mkdir -p "$stage/vcan"
install -m 0755 "$script" "$stage/vcan/guest.sh"
for p in "$@"; do
    [ -e "$p" ] || die "payload $p not found"
    cp -a "$p" "$stage/vcan/"
done
(cd "$stage" && find vcan | LC_ALL=C sort | cpio -o -H newc --quiet --reproducible -R 0:0) >"$work/payload.cpio"
cat "$cache/initramfs.cpio" "$work/payload.cpio" >"$work/initrd.cpio"
rm -rf "$stage" "$work/payload.cpio"

# --- boot -----------------------------------------------------------------------
# Software emulation with one host thread per virtual CPU. panic=-1 together
# with -no-reboot makes a guest panic end qemu at once instead of hanging.
console="$work/console.log"
guest="$work/guest.log"
start=$(date +%s.%N)
qemu_status=0
if [ -n "$arm64" ]; then
    [ ${#controllers[@]} -eq 0 ] || die "--sja1000 is for the amd64 guest only"
    # The virt machine has one serial port, the kernel's console; the script's output goes to
    # a virtio console (hvc0).
    timeout --kill-after=10 "$timeout_s" \
        qemu-system-aarch64 \
        -machine virt -accel tcg,thread=multi -cpu max,pauth-impdef=on -smp 2 -m "$memory_mb" \
        -nographic -nodefaults -no-reboot -monitor none \
        -kernel "$cache/Image" -initrd "$work/initrd.cpio" \
        -append "console=ttyAMA0 panic=-1 quiet vcan_out=hvc0" \
        -serial "file:$console" \
        -device virtio-serial-device -chardev "file,id=report,path=$guest" \
        -device virtconsole,chardev=report </dev/null || qemu_status=$?
else
    timeout --kill-after=10 "$timeout_s" \
        qemu-system-x86_64 \
        -machine pc -accel tcg,thread=multi -cpu max -smp 2 -m "$memory_mb" \
        -nographic -nodefaults -no-reboot -monitor none \
        "${controllers[@]}" \
        -kernel "$cache/vmlinux" -initrd "$work/initrd.cpio" \
        -append "$cmdline" \
        -serial "file:$console" -serial "file:$guest" </dev/null || qemu_status=$?
fi
rm -f "$work/initrd.cpio"
elapsed=$(echo "$start $(date +%s.%N)" | awk '{printf "%.1f", $2 - $1}')

# --- verdict --------------------------------------------------------------------
# The script's output is what lies between the begin marker and the newline
# that precedes the end marker.
touch "$guest"
awk '
    /^@@vcan-guest-begin$/ && !begun { begun = 1; next }
    begun && /^@@vcan-guest-end [0-9]+$/ {
        for (i = 1; i < n; i++) print lines[i]
        printf "%s", lines[n]
        exit
    }
    begun { lines[++n] = $0 }
' "$guest"

status="$(sed -n 's/^@@vcan-guest-end \([0-9][0-9]*\)$/\1/p' "$guest" | head -n1)"
if [ -z "$status" ]; then
    echo "vcan-run: FAILED: no verdict from the guest after ${elapsed}s (qemu status $qemu_status)" >&2
    setup="$(sed -n 's/^@@vcan-setup-failed //p' "$guest" | head -n1)"
    [ -n "$setup" ] && echo "vcan-run: guest set-up failed: $setup" >&2
    if [ "$qemu_status" = 124 ] || [ "$qemu_status" = 137 ]; then
        echo "vcan-run: the guest was killed after the ${timeout_s}s time limit" >&2
    fi
    echo "vcan-run: last lines of the guest output:" >&2
    tail -n 20 "$guest" >&2 || true
    echo "vcan-run: last lines of the kernel console:" >&2
    tail -n 40 "$console" >&2 || true
    exit 99
fi

# Files the script left in /out come back as a base64 tar stream.
if grep -q '^@@vcan-out-begin$' "$guest"; then
    grep -q '^@@vcan-out-end$' "$guest" || { echo "vcan-run: FAILED: the guest's /out archive is cut short" >&2; exit 99; }
    mkdir -p "$work/files"
    sed -n '/^@@vcan-out-begin$/,/^@@vcan-out-end$/{/^@@/d;p}' "$guest" | base64 -d | tar -x -C "$work/files" ||
        { echo "vcan-run: FAILED: cannot unpack the guest's /out archive" >&2; exit 99; }
fi

echo "vcan-run: guest script exited with status $status; boot and run took ${elapsed}s" >&2
exit "$status"
