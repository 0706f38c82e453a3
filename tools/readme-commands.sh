#!/usr/bin/env bash
# Runs README.md's commands as a person would, exactly as written there, on a clean clone in a
# clean Debian 12 root (tools/debian-root.sh's, copied; this machine is left alone): the first
# command (set-up, build, the guide's rehearsal), "From source" (set-up, build, install,
# capabilities), "To make the package" and its arm64 twin, then the install of each package by the
# path README gives. They follow one another in one clone, as they would for a person who reads on:
# the first command, "From source" and the package share one build tree and build it once. Checks
# that the rehearsal ends with the module done, that the programs run, that the package builds made
# no tests or benchmarks, and that the installed tool has its capabilities.
#
#   readme-commands.sh WORK_DIR [CACHE_DIR]
#
# CACHE_DIR holds the clean root (default build/package-root, where the package test keeps it).
# Needs root; the root's apt fetches from the network.
set -euo pipefail

[[ $# -ge 1 ]] || { sed -n '2,11p' "$0" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(realpath -m "$1")
cache=$(realpath -m "${2:-$repo/build/package-root}")
[[ $(id -u) -eq 0 ]] || { echo "readme-commands: needs root" >&2; exit 1; }

# block AFTER: the first ```sh block of README.md after the first line that starts with AFTER.
block() {
  awk -v after="$1" '
    !seen && index($0, after) == 1 { seen = 1; next }
    seen && !inside && /^```sh$/ { inside = 1; next }
    inside && /^```$/ { exit }
    inside { print }
  ' "$repo/README.md"
}
from_source=$(block '### From source')
# The first command: the first line of README's first block that is neither a comment nor empty.
first_command=$(awk '/^```sh$/ { inside = 1; next } inside && /^```$/ { exit }
  inside && !/^#/ && NF { print; exit }' "$repo/README.md")
make_package=$(block 'To make the package')
make_package_arm64=$(block 'To make the arm64 package')
install_package=$(block '### The Debian package')
for name in first_command from_source make_package make_package_arm64 install_package; do
  [[ -n ${!name} ]] || { echo "readme-commands: README.md has no block for $name" >&2; exit 1; }
done

bash "$repo/tools/debian-root.sh" "$cache"
root=$work/root
# An earlier run that was killed may have left /proc mounted in its root: unmount before removing.
awk -v top="$work/" 'index($2, top) == 1 { print $2 }' /proc/self/mounts | sort -r |
  while read -r point; do umount -l "$point"; done
rm -rf "$work"
mkdir -p "$work"
cp -a "$cache/root" "$root"
# A clean clone of what is committed, where a person would have it.
git clone -q --no-local "$repo" "$root/root/nodletflash"
# What a person's machine has beyond the minimal root: sudo, and apt's lists.
# With CCACHE_DIR set (tools/test-all.sh), the builds in the root share this machine's compiler
# cache: they compile what the developers' builds compiled, and take it from there. Nothing else
# of the commands changes.
cache_env=()
if [[ -n ${CCACHE_DIR:-} ]]; then
  cache_env=(CCACHE_DIR=/var/cache/nodletflash-ccache CCACHE_BASEDIR=/root/nodletflash
    CCACHE_NOHASHDIR=true CCACHE_COMPILERCHECK=content "CCACHE_IGNOREOPTIONS=${CCACHE_IGNOREOPTIONS:-}"
    CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G} CMAKE_C_COMPILER_LAUNCHER=ccache
    CMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "${cache_env[@]}" "$@"
}
# A person's machine has /proc: the guide finds the tool and the virtual hand next to itself.
mount -t proc proc "$root/proc"
trap 'umount -l "$root/proc" "$root/var/cache/nodletflash-ccache" 2>/dev/null || true' EXIT
if [[ -n ${CCACHE_DIR:-} ]]; then
  mkdir -p "$CCACHE_DIR" "$root/var/cache/nodletflash-ccache"
  mount --bind "$CCACHE_DIR" "$root/var/cache/nodletflash-ccache"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root apt-get -q update >"$work/apt.log" 2>&1
in_root apt-get -q install -y sudo >>"$work/apt.log" 2>&1
if [[ -n ${CCACHE_DIR:-} ]]; then
  in_root apt-get -q install -y ccache >>"$work/apt.log" 2>&1
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# step NAME SCRIPT: runs SCRIPT with bash from the clone's top, as README's reader would.
step() {
  local start end
  start=$(date +%s)
  echo "readme-commands: $1:"
  sed 's/^/    /' <<<"$2"
  if in_root bash -e -c "cd /root/nodletflash && $2" >"$work/$1.log" 2>&1; then
    end=$(date +%s)
    echo "readme-commands: $1 passed in $((end - start)) s"
  else
    tail -n 30 "$work/$1.log"
    fail "$1 (log: $work/$1.log)"
  fi
}

step first-command "$first_command"
grep -q '^Module 12 (Finger 2): done' "$work/first-command.log" ||
  fail "the first command's rehearsal did not end with the module done"
step from-source "$from_source"
in_root /usr/local/bin/nodletflash >"$work/usage.txt" 2>&1 || true
grep -q '^ERRORusage: ' "$work/usage.txt" || fail "the installed nodletflash prints no usage message"
in_root getcap /usr/local/bin/nodletflash | grep -q 'cap_net_admin,cap_sys_nice=ep' ||
  fail "/usr/local/bin/nodletflash lacks its capabilities"

step make-package "$make_package"
step make-package-arm64 "$make_package_arm64"
# Packaging builds what it installs and nothing more.
for tree in build build-arm64; do
  made=$(find "$root/root/nodletflash/$tree" -type f -perm -u+x \( -name '*_tests' -o -name '*_test' \
    -o -name '*bench*' \) | head -n 3)
  [[ -z $made ]] || fail "$tree: the package build made tests or benchmarks: $made"
done
ls "$root/root/nodletflash/build-arm64/packages/"*_arm64.deb >/dev/null 2>&1 ||
  fail "no arm64 package in build-arm64/packages/"

step install-package "$install_package"
in_root getcap /usr/bin/nodletflash | grep -q 'cap_net_admin,cap_sys_nice=ep' ||
  fail "the package's /usr/bin/nodletflash lacks its capabilities"

if ((failures > 0)); then
  echo "readme-commands: $failures check(s) failed"
  exit 1
fi
echo "readme-commands: README's commands work as written"
