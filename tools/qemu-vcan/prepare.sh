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

log() { echo "vcan-prepare: $*" >&2; }
die() { echo "vcan-prepare: error: $*" >&2; exit 1; }

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
ready_stamp="$cache/ready"
if [ -f "$ready_stamp" ] && [ -z "${VCAN_KERNEL_PKG:-}" ] &&
   [ -f "$cache/vmlinux" ] && [ -f "$cache/initramfs.cpio" ] &&
   [ "$ready_stamp" -nt "${BASH_SOURCE[0]}" ] && [ "$ready_stamp" -nt "$here/guest-init.sh" ]; then
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
if [ ! -f "$kdir/unpacked" ]; then
    log "fetching $pkg"
    rm -rf "$kdir" "$cache/download"
    mkdir -p "$kdir" "$cache/download"
    # apt's sandbox user cannot write into a root-owned directory: that only
    # costs a warning, which we drop. Stale package lists point at versions
    # the mirror no longer has, so a failure is retried once after an update.
    fetch() {
        (cd "$cache/download" && apt-get download "$pkg" 2>&1 |
            grep -v '^W: Download is performed unsandboxed' >&2) || true
        ls "$cache/download"/*.deb 2>/dev/null | head -n1
    }
    deb="$(fetch)"
    if [ -z "$deb" ]; then
        apt-get -o DPkg::Lock::Timeout=900 update >&2 || true
        deb="$(fetch)"
    fi
    [ -n "$deb" ] || die "apt-get download $pkg produced no package"
    # Only the compressed kernel, its config and the CAN part of the module
    # tree are taken out of the package: the full tree is some 400 MB.
    log "unpacking $(basename "$deb")"
    dpkg-deb --fsys-tarfile "$deb" |
        tar -x -C "$kdir" --wildcards \
            './boot/vmlinuz-*' './boot/config-*' \
            './lib/modules/*/kernel/net/can/*' './lib/modules/*/kernel/drivers/net/can/*'
    rm -rf "$cache/download"
    touch "$kdir/unpacked"
fi
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

# Path of a module by name (the kernel treats - and _ alike).
module_path() {
    local name="${1//_/-}" alt="${1//-/_}" p
    for p in $(find "$moddir" -name "$name.ko*" -o -name "$alt.ko*"); do
        echo "$p"
        return 0
    done
    return 1
}

# A module's dependencies, read from its .modinfo section (NUL-separated
# key=value strings); no modules.dep is shipped in the package.
module_depends() {
    local f="$1"
    case "$f" in
    *.ko.xz) xz -dc "$f" ;;
    *.ko.zst) zstd -dcq "$f" ;;
    *.ko.gz) gzip -dc "$f" ;;
    *) cat "$f" ;;
    esac | tr '\0' '\n' | sed -n 's/^depends=//p' | head -n1 | tr ',' ' '
}

# Depth-first walk so that every module comes after what it depends on.
load_order=()
visit() {
    local name="${1//_/-}" m dep
    for m in "${load_order[@]}"; do [ "$m" = "$name" ] && return 0; done
    local p
    p="$(module_path "$name")" || die "module $name not found under $moddir"
    for dep in $(module_depends "$p"); do visit "$dep"; done
    load_order+=("$name")
}
for m in "${wanted_modules[@]}"; do visit "$m"; done
base_modules=${#load_order[@]}
for m in "${controller_modules[@]}"; do visit "$m"; done
log "modules: ${load_order[*]:0:base_modules}; for the controllers: ${load_order[*]:base_modules}"

# --- initramfs --------------------------------------------------------------------
root="$cache/initramfs.root"
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,run,etc,lib/modules,vcan,usr/sbin}
cp "$busybox" "$root/bin/busybox"
# One link per applet; the list names busybox itself, which must stay a file.
for applet in $("$busybox" --list); do
    [ "$applet" = busybox ] && continue
    ln -s busybox "$root/bin/$applet"
done
# iproute2's ip as /usr/sbin/ip, with the shared libraries and the loader it
# names, at the paths it names them by (this host is the same Debian).
cp -L "$iproute_ip" "$root/usr/sbin/ip"
for lib in $(ldd "$iproute_ip" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
done
# setcap, getcap and setpriv as /usr/sbin/NAME, with their libraries, in the same way.
for program in setcap getcap setpriv; do
    path="$(command -v "$program")" || die "$program missing after installing its package"
    cp -L "$path" "$root/usr/sbin/$program"
    for lib in $(ldd "$path" | grep -o '/[^ ]*'); do
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
    done
done
# busybox insmod takes plain .ko files only: store them decompressed.
for i in "${!load_order[@]}"; do
    name="${load_order[$i]}"
    p="$(module_path "$name")"
    case "$p" in
    *.ko.xz) xz -dc "$p" ;;
    *.ko.zst) zstd -dcq "$p" ;;
    *.ko.gz) gzip -dc "$p" ;;
    *) cat "$p" ;;
    esac >"$root/lib/modules/$name.ko"
    if [ "$i" -lt "$base_modules" ]; then
        echo "$name" >>"$root/lib/modules/load-order"
    else
        echo "$name" >>"$root/lib/modules/load-order.controllers"
    fi
done
install -m 0755 "$here/guest-init.sh" "$root/init"
# The kernel needs a console node before devtmpfs is mounted.
(cd "$root" && mknod -m 600 dev/console c 5 1 2>/dev/null || true)

(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet --reproducible -R 0:0) >"$cache/initramfs.cpio.tmp"
mv "$cache/initramfs.cpio.tmp" "$cache/initramfs.cpio"
rm -rf "$root"
ln -sfn "kernel/$release/vmlinux" "$cache/vmlinux"
echo "$release" >"$cache/kernel-release"
touch "$ready_stamp"
log "cache $cache is ready ($release, $(du -sh "$cache" | cut -f1))"
