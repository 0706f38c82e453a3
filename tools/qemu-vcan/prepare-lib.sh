# shellcheck shell=bash
# shellcheck disable=SC2154  # here, cache and log_name: set by the script that sources this
# What prepare.sh and prepare-arm64.sh have in common: fetching and unpacking Debian's kernel
# package, putting its CAN modules in an order their dependencies allow, and packing the busybox
# initramfs. Sourced by both, which set first:
#   here      this folder
#   cache     the cache folder
#   log_name  the prefix of their messages

log() { echo "$log_name: $*" >&2; }
die() { echo "$log_name: error: $*" >&2; exit 1; }

# cache_ready SCRIPT FILE...: the cache holds each FILE and was made after SCRIPT, this library
# and the guest's init last changed: running again would make the same.
cache_ready() {
    local script="$1" file
    shift
    [ -f "$cache/ready" ] || return 1
    for file in "$@"; do
        [ -f "$cache/$file" ] || return 1
    done
    for file in "$script" "$here/prepare-lib.sh" "$here/guest-init.sh"; do
        [ "$cache/ready" -nt "$file" ] || return 1
    done
}

# fetch PACKAGE DIR: apt-get download PACKAGE into a fresh DIR and print the .deb's path. apt's
# sandbox user cannot write into a root-owned directory: that only costs a warning, which is
# dropped. Stale package lists point at versions the mirror no longer has, so a failure is
# retried once after an update.
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

# unpack_kernel PACKAGE DIR [PATTERN...]: the kernel package's compressed image, its config and
# the CAN part of its module tree (and whatever PATTERN names) in DIR, fetched once: the full
# tree is some 400 MB.
unpack_kernel() {
    local package="$1" dir="$2" deb
    shift 2
    [ -f "$dir/unpacked" ] && return 0
    log "fetching $package"
    deb="$(fetch "$package" "$cache/download")"
    rm -rf "$dir"
    mkdir -p "$dir"
    log "unpacking $(basename "$deb")"
    dpkg-deb --fsys-tarfile "$deb" |
        tar -x -C "$dir" --wildcards './boot/vmlinuz-*' './boot/config-*' \
            './lib/modules/*/kernel/net/can/*' './lib/modules/*/kernel/drivers/net/can/*' "$@"
    rm -rf "$cache/download"
    touch "$dir/unpacked"
}

# unpacked FILE: a module file as the kernel loads it; busybox insmod takes plain .ko files only.
unpacked() {
    case "$1" in
    *.ko.xz) xz -dc "$1" ;;
    *.ko.zst) zstd -dcq "$1" ;;
    *.ko.gz) gzip -dc "$1" ;;
    *) cat "$1" ;;
    esac
}

# module_path NAME: the path of a module under $moddir (the kernel treats - and _ alike).
module_path() {
    local name="${1//_/-}" alt="${1//-/_}" p
    for p in $(find "$moddir" -name "$name.ko*" -o -name "$alt.ko*"); do
        echo "$p"
        return 0
    done
    return 1
}

# module_depends FILE: a module's dependencies, read from its .modinfo section (NUL-separated
# key=value strings); no modules.dep is shipped in the package.
module_depends() { unpacked "$1" | tr '\0' '\n' | sed -n 's/^depends=//p' | head -n1 | tr ',' ' '; }

# visit NAME: NAME added to $load_order after everything it depends on (depth first).
load_order=()
visit() {
    local name="${1//_/-}" m dep p
    for m in "${load_order[@]}"; do [ "$m" = "$name" ] && return 0; done
    p="$(module_path "$name")" || die "module $name not found under $moddir"
    for dep in $(module_depends "$p"); do visit "$dep"; done
    load_order+=("$name")
}

# start_initramfs BUSYBOX [RUNNER...]: a fresh $root with busybox and one link per applet, as
# the busybox lists them (run by RUNNER, when it is another machine's).
start_initramfs() {
    local busybox="$1" applet
    shift
    root="$cache/initramfs.root"
    rm -rf "$root"
    mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,run,etc,lib/modules,vcan,usr/sbin}
    cp "$busybox" "$root/bin/busybox"
    # The list names busybox itself, which must stay a file.
    for applet in $("$@" "$busybox" --list); do
        [ "$applet" = busybox ] && continue
        ln -s busybox "$root/bin/$applet"
    done
}

# store_modules COUNT FIRST REST: every module of $load_order in the initramfs, plain, the first
# COUNT named in lib/modules/FIRST and the others in lib/modules/REST, in load order.
store_modules() {
    local i name
    for i in "${!load_order[@]}"; do
        name="${load_order[$i]}"
        unpacked "$(module_path "$name")" >"$root/lib/modules/$name.ko"
        if [ "$i" -lt "$1" ]; then
            echo "$name" >>"$root/lib/modules/$2"
        else
            echo "$name" >>"$root/lib/modules/$3"
        fi
    done
}

# finish_initramfs: the guest's init and a console node (the kernel needs one before devtmpfs is
# mounted) in $root, packed into $cache/initramfs.cpio.
finish_initramfs() {
    install -m 0755 "$here/guest-init.sh" "$root/init"
    (cd "$root" && mknod -m 600 dev/console c 5 1 2>/dev/null || true)
    (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet --reproducible -R 0:0) >"$cache/initramfs.cpio.tmp"
    mv "$cache/initramfs.cpio.tmp" "$cache/initramfs.cpio"
    rm -rf "$root"
}
