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

log() { echo "vcan-prepare-arm64: $*" >&2; }
die() { echo "vcan-prepare-arm64: error: $*" >&2; exit 1; }

# The virtio console first (the guest's report goes there), then the CAN stack.
early_modules=(virtio_mmio virtio_console)
wanted_modules=(can can-raw can-dev vcan)

command -v qemu-system-aarch64 >/dev/null || die "qemu-system-aarch64 missing (tools/setup-arm64.sh)"
dpkg --print-foreign-architectures | grep -qx arm64 ||
    die "arm64 is not a foreign architecture of dpkg here (tools/setup-arm64.sh)"

ready_stamp="$cache/ready"
if [ -f "$ready_stamp" ] && [ -f "$cache/Image" ] && [ -f "$cache/initramfs.cpio" ] &&
   [ "$ready_stamp" -nt "${BASH_SOURCE[0]}" ] && [ "$ready_stamp" -nt "$here/guest-init.sh" ]; then
    log "cache $cache is ready ($(cat "$cache/kernel-release"))"
    exit 0
fi

# apt-get download PACKAGE into DIR; stale package lists are refreshed once.
fetch() {
    local package="$1" dir="$2" deb
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && apt-get download "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' >&2) || true
    deb="$(ls "$dir"/*.deb 2>/dev/null | head -n1)"
    if [ -z "$deb" ]; then
        apt-get -o DPkg::Lock::Timeout=900 update >&2 || true
        (cd "$dir" && apt-get download "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' >&2) || true
        deb="$(ls "$dir"/*.deb 2>/dev/null | head -n1)"
    fi
    [ -n "$deb" ] || die "apt-get download $package produced no package"
    echo "$deb"
}

# --- kernel -----------------------------------------------------------------------------------
pkg="$(apt-cache depends linux-image-arm64:arm64 2>/dev/null |
       sed -n 's/^ *Depends: \(linux-image-[0-9][^ :]*-arm64\)\(:arm64\)\{0,1\}$/\1/p' | head -n1)"
[ -n "$pkg" ] || die "cannot tell which kernel package linux-image-arm64 depends on"
release="${pkg#linux-image-}"
kdir="$cache/kernel/$release"
if [ ! -f "$kdir/unpacked" ]; then
    log "fetching $pkg"
    deb="$(fetch "$pkg:arm64" "$cache/download")"
    rm -rf "$kdir"
    mkdir -p "$kdir"
    dpkg-deb --fsys-tarfile "$deb" |
        tar -x -C "$kdir" --wildcards './boot/vmlinuz-*' './boot/config-*' \
            './lib/modules/*/kernel/net/can/*' './lib/modules/*/kernel/drivers/net/can/*' \
            './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/drivers/char/*'
    rm -rf "$cache/download"
    touch "$kdir/unpacked"
fi
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
module_path() {
    local name="${1//_/-}" alt="${1//-/_}" p
    for p in $(find "$moddir" -name "$name.ko*" -o -name "$alt.ko*"); do
        echo "$p"
        return 0
    done
    return 1
}
unpacked() {
    case "$1" in
    *.ko.xz) xz -dc "$1" ;;
    *.ko.zst) zstd -dcq "$1" ;;
    *.ko.gz) gzip -dc "$1" ;;
    *) cat "$1" ;;
    esac
}
module_depends() { unpacked "$1" | tr '\0' '\n' | sed -n 's/^depends=//p' | head -n1 | tr ',' ' '; }
load_order=()
visit() {
    local name="${1//_/-}" m dep p
    for m in "${load_order[@]}"; do [ "$m" = "$name" ] && return 0; done
    p="$(module_path "$name")" || die "module $name not found under $moddir"
    for dep in $(module_depends "$p"); do visit "$dep"; done
    load_order+=("$name")
}
for m in "${early_modules[@]}"; do visit "$m"; done
early=${#load_order[@]}
for m in "${wanted_modules[@]}"; do visit "$m"; done
log "modules: ${load_order[*]}"

# --- initramfs --------------------------------------------------------------------------------
root="$cache/initramfs.root"
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,run,etc,lib/modules,vcan,usr/sbin}
cp "$cache/busybox" "$root/bin/busybox"
# The applets are listed by the arm64 busybox itself, under qemu's user-mode emulator.
for applet in $(qemu-aarch64-static "$cache/busybox" --list); do
    [ "$applet" = busybox ] && continue
    ln -s busybox "$root/bin/$applet"
done
for i in "${!load_order[@]}"; do
    name="${load_order[$i]}"
    unpacked "$(module_path "$name")" >"$root/lib/modules/$name.ko"
    if [ "$i" -lt "$early" ]; then
        echo "$name" >>"$root/lib/modules/load-order.early"
    else
        echo "$name" >>"$root/lib/modules/load-order"
    fi
done
install -m 0755 "$here/guest-init.sh" "$root/init"
(cd "$root" && mknod -m 600 dev/console c 5 1 2>/dev/null || true)
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet --reproducible -R 0:0) >"$cache/initramfs.cpio.tmp"
mv "$cache/initramfs.cpio.tmp" "$cache/initramfs.cpio"
rm -rf "$root"
echo "$release" >"$cache/kernel-release"
touch "$ready_stamp"
log "cache $cache is ready ($release, $(du -sh "$cache" | cut -f1))"
