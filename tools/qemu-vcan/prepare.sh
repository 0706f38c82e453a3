#!/bin/bash
# Prepares everything needed to boot a throw-away Linux guest with a real
# SocketCAN stack (vcan) under qemu: the host tools, Debian's stock kernel
# (unpacked, never installed) and a busybox initramfs with the CAN modules.
# The same initramfs also serves guests booted with emulated SJA1000
# controllers (run.sh --sja1000): it carries their drivers and iproute2's ip,
# which can set a controller's bit rate where busybox's cannot. setcap, getcap
# and setpriv let a test give the tool file capabilities and run it as an
# unprivileged account, as the installed package does.
#
# Usage: prepare.sh [CACHE_DIR]
#   CACHE_DIR defaults to $VCAN_CACHE, else build/vcan-cache in the repository.
#   VCAN_KERNEL_PKG may name the kernel package (e.g. linux-image-6.1.0-57-amd64);
#   by default the one that Debian's linux-image-amd64 currently depends on.
#
# Running it again is cheap: each step checks whether its result is already
# there. What it leaves in CACHE_DIR:
#   vmlinux             the uncompressed kernel (booted directly through PVH)
#   initramfs.cpio      busybox, iproute2's ip, setcap, getcap, setpriv, the
#                       CAN modules and /init (run.sh
#                       adds the payload)
#   kernel-release      the kernel's release string, e.g. 6.1.0-57-amd64
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
cache="${1:-${VCAN_CACHE:-$repo/build/vcan-cache}}"
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"

log_name=vcan-prepare
# shellcheck source=prepare-lib.sh
. "$here/prepare-lib.sh"

# The modules the guest needs, in an order that satisfies their dependencies
# is worked out below; these are the ones we ask for. The controller drivers
# are loaded only in a guest that has the controllers.
wanted_modules=(can can-raw can-dev vcan)
controller_modules=(sja1000 kvaser_pci)

# --- host tools ---------------------------------------------------------------
# qemu-system-x86_64, a static busybox for the guest, cpio to pack it, xz/zstd
# to unpack the kernel image.
need_pkgs=()
command -v qemu-system-x86_64 >/dev/null || need_pkgs+=(qemu-system-x86)
dpkg -s busybox-static >/dev/null 2>&1 || need_pkgs+=(busybox-static)
command -v cpio >/dev/null || need_pkgs+=(cpio)
command -v xz >/dev/null || need_pkgs+=(xz-utils)
command -v zstd >/dev/null || need_pkgs+=(zstd)
dpkg -s iproute2 >/dev/null 2>&1 || need_pkgs+=(iproute2)
# setcap to give the tool its file capabilities, setpriv to run it as an unprivileged account.
command -v setcap >/dev/null || need_pkgs+=(libcap2-bin)
command -v setpriv >/dev/null || need_pkgs+=(util-linux)
if [ ${#need_pkgs[@]} -gt 0 ]; then
    log "installing ${need_pkgs[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${need_pkgs[@]}" >&2 ||
        { apt-get -o DPkg::Lock::Timeout=900 update >&2 &&
          apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${need_pkgs[@]}" >&2; } ||
        die "could not install ${need_pkgs[*]}"
fi
busybox=/bin/busybox
[ -x "$busybox" ] || die "$busybox missing after installing busybox-static"
# The package's file list is read whole: a grep that stops at its first match would end dpkg
# with SIGPIPE, which pipefail reports as a failure.
iproute_ip=""
for candidate in $(dpkg -L iproute2); do
    case "$candidate" in
    /bin/ip | /usr/bin/ip | /sbin/ip) iproute_ip="$candidate"; break ;;
    esac
done
[ -n "$iproute_ip" ] || die "iproute2 installs no ip"

# --- kernel package -----------------------------------------------------------
if [ -z "${VCAN_KERNEL_PKG:-}" ] && cache_ready "${BASH_SOURCE[0]}" vmlinux initramfs.cpio; then
    log "cache $cache is ready ($(cat "$cache/kernel-release"))"
    exit 0
fi

pkg="${VCAN_KERNEL_PKG:-}"
if [ -z "$pkg" ]; then
    # The current stock kernel is whatever the meta-package points at.
    apt-cache show linux-image-amd64 >/dev/null 2>&1 || apt-get -o DPkg::Lock::Timeout=900 update >&2
    pkg="$(apt-cache depends linux-image-amd64 2>/dev/null |
           sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n1)"
    [ -n "$pkg" ] || die "cannot tell which kernel package linux-image-amd64 depends on"
fi
release="${pkg#linux-image-}"
release="${release%-unsigned}"

kdir="$cache/kernel/$release"
unpack_kernel "$pkg" "$kdir"
vmlinuz="$kdir/boot/vmlinuz-$release"
[ -f "$vmlinuz" ] || die "$vmlinuz not found in $pkg"

# --- uncompressed kernel --------------------------------------------------------
# qemu boots an ELF vmlinux straight through its PVH entry point, which is a
# good deal faster than running the bzImage's own decompressor under emulation.
# The compressed payload sits somewhere inside the bzImage: look for each
# compressor's magic and keep the first stream that unpacks into an ELF image.
is_elf() { [ "$(head -c4 "$1" | od -An -tx1 | tr -d ' \n')" = "7f454c46" ]; }

extract_vmlinux() {
    local img="$1" out="$2" magic cmd off
    for pair in 'fd377a585a00:xz -dc' '1f8b08:gzip -dc' '28b52ffd:zstd -dcq'; do
        magic="${pair%%:*}"
        cmd="${pair#*:}"
        # Offsets of every occurrence of the magic bytes.
        for off in $(LC_ALL=C grep -obUaP "$(sed 's/../\\x&/g' <<<"$magic")" "$img" | cut -d: -f1); do
            # Trailing data after the stream makes the decompressor complain;
            # what counts is whether an ELF image came out.
            tail -c +"$((off + 1))" "$img" | $cmd >"$out.tmp" 2>/dev/null || true
            if [ -s "$out.tmp" ] && is_elf "$out.tmp"; then
                mv "$out.tmp" "$out"
                return 0
            fi
        done
    done
    rm -f "$out.tmp"
    return 1
}

if [ ! -f "$kdir/vmlinux" ]; then
    log "extracting vmlinux from $(basename "$vmlinuz")"
    extract_vmlinux "$vmlinuz" "$kdir/vmlinux" || die "no compressed ELF kernel found in $vmlinuz"
fi
grep -q '^CONFIG_PVH=y' "$kdir/boot/config-$release" ||
    die "kernel $release is not built with CONFIG_PVH: qemu cannot boot its vmlinux directly"

# --- modules --------------------------------------------------------------------
moddir="$(echo "$kdir"/lib/modules/*)"
[ -d "$moddir" ] || die "no module tree in $pkg"

for m in "${wanted_modules[@]}"; do visit "$m"; done
base_modules=${#load_order[@]}
for m in "${controller_modules[@]}"; do visit "$m"; done
log "modules: ${load_order[*]:0:base_modules}; for the controllers: ${load_order[*]:base_modules}"

# --- initramfs --------------------------------------------------------------------
start_initramfs "$busybox"
# with_libraries PATH NAME: the program at PATH as /usr/sbin/NAME, with the shared libraries
# and the loader it names, at the paths it names them by (this host is the same Debian).
with_libraries() {
    local lib
    cp -L "$1" "$root/usr/sbin/$2"
    for lib in $(ldd "$1" | grep -o '/[^ ]*'); do
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
    done
}
with_libraries "$iproute_ip" ip
for program in setcap getcap setpriv; do
    path="$(command -v "$program")" || die "$program missing after installing its package"
    with_libraries "$path" "$program"
done
store_modules "$base_modules" load-order load-order.controllers
finish_initramfs
ln -sfn "kernel/$release/vmlinux" "$cache/vmlinux"
echo "$release" >"$cache/kernel-release"
touch "$cache/ready"
log "cache $cache is ready ($release, $(du -sh "$cache" | cut -f1))"
