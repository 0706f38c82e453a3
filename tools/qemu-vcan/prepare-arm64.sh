#!/bin/bash
# Prepares the arm64 twin of the vcan test guest (see prepare.sh): Debian's stock arm64 kernel
# and an arm64 busybox (both fetched with apt-get download and unpacked, never installed), and an
# initramfs with the CAN modules and the virtio console the guest reports on. run.sh --arm64
# boots it on qemu's "virt" machine. The emulated SJA1000 cards are PCI cards of the amd64 guest
# only; this guest has vcan.
#
# Usage: prepare-arm64.sh [CACHE_DIR]
#   CACHE_DIR defaults to $VCAN_CACHE, else build-arm64/vcan-cache in the repository.
#
# What it leaves in CACHE_DIR: Image (the uncompressed kernel), initramfs.cpio, kernel-release.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
cache="${1:-${VCAN_CACHE:-$repo/build-arm64/vcan-cache}}"
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"

log_name=vcan-prepare-arm64
# shellcheck source=prepare-lib.sh
. "$here/prepare-lib.sh"

# The virtio console first (the guest's report goes there), then the CAN stack.
early_modules=(virtio_mmio virtio_console)
wanted_modules=(can can-raw can-dev vcan)

command -v qemu-system-aarch64 >/dev/null || die "qemu-system-aarch64 missing (tools/setup-arm64.sh)"
dpkg --print-foreign-architectures | grep -qx arm64 ||
    die "arm64 is not a foreign architecture of dpkg here (tools/setup-arm64.sh)"

if cache_ready "${BASH_SOURCE[0]}" Image initramfs.cpio; then
    log "cache $cache is ready ($(cat "$cache/kernel-release"))"
    exit 0
fi

# --- kernel -----------------------------------------------------------------------------------
pkg="$(apt-cache depends linux-image-arm64:arm64 2>/dev/null |
       sed -n 's/^ *Depends: \(linux-image-[0-9][^ :]*-arm64\)\(:arm64\)\{0,1\}$/\1/p' | head -n1)"
[ -n "$pkg" ] || die "cannot tell which kernel package linux-image-arm64 depends on"
release="${pkg#linux-image-}"
kdir="$cache/kernel/$release"
unpack_kernel "$pkg:arm64" "$kdir" './lib/modules/*/kernel/drivers/virtio/*' \
    './lib/modules/*/kernel/drivers/char/*'
# Debian's arm64 vmlinuz is the plain Image, or gzip-compressed: qemu is given it plain.
vmlinuz="$kdir/boot/vmlinuz-$release"
[ -f "$vmlinuz" ] || die "$vmlinuz not found in $pkg"
if [ "$(head -c2 "$vmlinuz" | od -An -tx1 | tr -d ' \n')" = "1f8b" ]; then
    gzip -dc "$vmlinuz" >"$cache/Image"
else
    cp "$vmlinuz" "$cache/Image"
fi

# --- busybox ----------------------------------------------------------------------------------
if [ ! -f "$cache/busybox" ]; then
    log "fetching busybox-static:arm64"
    deb="$(fetch busybox-static:arm64 "$cache/download")"
    mkdir -p "$cache/download/x"
    dpkg-deb -x "$deb" "$cache/download/x"
    install -m 0755 "$cache/download/x/bin/busybox" "$cache/busybox"
    rm -rf "$cache/download"
fi

# --- modules ----------------------------------------------------------------------------------
moddir="$(echo "$kdir"/lib/modules/*)"
[ -d "$moddir" ] || die "no module tree in $pkg"
for m in "${early_modules[@]}"; do visit "$m"; done
early=${#load_order[@]}
for m in "${wanted_modules[@]}"; do visit "$m"; done
log "modules: ${load_order[*]}"

# --- initramfs --------------------------------------------------------------------------------
# The applets are listed by the arm64 busybox itself, under qemu's user-mode emulator.
start_initramfs "$cache/busybox" qemu-aarch64-static
store_modules "$early" load-order.early load-order
finish_initramfs
echo "$release" >"$cache/kernel-release"
touch "$cache/ready"
log "cache $cache is ready ($release, $(du -sh "$cache" | cut -f1))"
