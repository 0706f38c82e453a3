#!/usr/bin/env bash
# Makes a clean Debian 12 root to install packages in, once, and keeps it for later runs.
#
#   debian-root.sh CACHE_DIR
#
# Leaves CACHE_DIR/root: a minimal bookworm (debootstrap's minbase, with man-db and libcap2-bin
# added) fetched from the Debian mirror this machine's apt uses. A root made earlier with the
# same suite, packages and mirror is kept as it is. Needs root and debootstrap. Whatever
# debootstrap mounts inside the new root is unmounted again, also when it fails.
set -euo pipefail

[[ $# -eq 1 ]] || { echo "usage: debian-root.sh CACHE_DIR" >&2; exit 2; }
cache=$(realpath -m "$1")
suite=bookworm
include=man-db,libcap2-bin

# The first Debian mirror (not the security one) that apt's sources name for this suite, in either
# source format.
apt_mirror() {
  local files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
  local existing=()
  for f in "${files[@]}"; do [[ -f $f ]] && existing+=("$f"); done
  ((${#existing[@]})) || return 0
  awk -v suite="$suite" '
    /^deb[ \t]/ {
      sub(/\[[^]]*\][ \t]*/, "")
      if ($3 == suite && $2 !~ /security/) { print $2; exit }
    }
    /^[ \t]*$/ { uris = ""; suites = ""; next }
    /^URIs:/ { uris = $2 }
    /^Suites:/ { suites = " " substr($0, 8) " " }
    uris != "" && suites ~ (" " suite " ") && uris !~ /security/ { print uris; exit }
  ' "${existing[@]}"
}

# One maker at a time: the package test and README's commands may ask for the same root at once;
# the second waits and then finds it made.
mkdir -p "$cache"
exec {lock}>"$cache.lock"
flock "$lock"

mirror=$(apt_mirror)
mirror=${mirror:-http://deb.debian.org/debian}
wanted="$suite $include $mirror"
if [[ -f $cache/stamp && $(<"$cache/stamp") == "$wanted" && -x $cache/root/usr/bin/dpkg ]]; then
  exit 0
fi

[[ $(id -u) -eq 0 ]] || { echo "debian-root: debootstrap needs root" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "debian-root: debootstrap is missing (tools/setup-dev.sh)" >&2; exit 1; }

mkdir -p "$cache"
fresh=$cache/root.new
unmount_fresh() {
  # Deepest first.
  awk -v top="$fresh" '$2 == top || index($2, top "/") == 1 { print $2 }' /proc/self/mounts |
    sort -r | while read -r point; do umount -l "$point" || true; done
}
trap unmount_fresh EXIT
unmount_fresh
rm -rf "$fresh"

echo "debian-root: debootstrap $suite from $mirror into $fresh"
if ! debootstrap --variant=minbase --include="$include" "$suite" "$fresh" "$mirror" \
  >"$cache/debootstrap.log" 2>&1; then
  tail -n 30 "$cache/debootstrap.log" >&2
  echo "debian-root: debootstrap failed; its log is $cache/debootstrap.log" >&2
  exit 1
fi
unmount_fresh
# apt's downloads are not needed again.
rm -rf "$fresh"/var/cache/apt/archives/*.deb
rm -rf "$cache/root"
mv "$fresh" "$cache/root"
echo "$wanted" >"$cache/stamp"
