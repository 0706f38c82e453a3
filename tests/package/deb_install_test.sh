#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 root and checks it there: its dependencies
# are met by the base system, nodletflash runs (usage message, status 1, nothing on standard
# error), the capabilities are set, the guide rehearses with the installed virtual hand and sample
# image, every manual page renders without a warning; and where the
# capabilities cannot be set (setcap failing, setcap missing) the installation still succeeds
# and says what to do.
#
#   deb_install_test.sh DEB CACHE_DIR WORK_DIR PROGRAMS
#
# CACHE_DIR holds the clean root (tools/debian-root.sh makes it there once); each run works on a
# copy in WORK_DIR, so the cached root stays clean. Nothing is mounted. Needs root: without it
# the test is skipped (status 77).
set -uo pipefail
source "$(dirname "$0")/test_lib.sh"

deb=$(realpath "$1")
cache=$2
work=$3
list_words programs "$4"

if [[ $(id -u) -ne 0 ]]; then
  echo "SKIP: installing into a chroot needs root"
  exit 77
fi
here=$(dirname "$(realpath "$0")")
bash "$here/../../tools/debian-root.sh" "$cache" || { echo "FAIL: no clean Debian root"; exit 1; }

root=$work/root
rm -rf "$work"
mkdir -p "$work"
cp -a "$cache/root" "$root"
cp "$deb" "$root/tmp/package.deb"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

# Installs the package (again); the log is $work/install-$1.log.
install_package() {
  in_root dpkg -i /tmp/package.deb >"$work/install-$1.log" 2>&1 || {
    cat "$work/install-$1.log"
    fail "dpkg -i failed ($1)"
    return
  }
  [[ $(in_root dpkg-query -W -f='${Status}' nodletflash) == "install ok installed" ]] ||
    fail "nodletflash is not installed and configured ($1)"
}
postinst_said() { grep -q 'could not give /usr/bin/nodletflash the capabilities' "$work/install-$1.log"; }

# 1. With setcap at hand.
install_package with-setcap
postinst_said with-setcap && fail "postinst could not set the capabilities with setcap present"
caps=$(in_root getcap /usr/bin/nodletflash)
[[ $caps == "/usr/bin/nodletflash cap_net_admin,cap_sys_nice=ep" ]] || fail "getcap shows '$caps'"

in_root nodletflash >"$work/usage.out" 2>"$work/usage.err"
status=$?
[[ $status -eq 1 ]] || fail "nodletflash without arguments ended with status $status"
printf 'ERRORusage: nodletflash <nodletNumber> <filename>\nProgram ended unsuccessfully.\n' |
  cmp -s - "$work/usage.out" || fail "usage output: $(cat "$work/usage.out")"
[[ ! -s $work/usage.err ]] || fail "standard error: $(cat "$work/usage.err")"

# The installed programs find each other: a rehearsal of the guide with the sample image.
examples=/usr/share/doc/nodletflash/examples
if [[ " ${programs[*]} " == *" nodletflash-guide "* ]]; then
  in_root nodletflash-guide --rehearse --sim-clock=virtual --no-log 12 "$examples/tiny.hex" >"$work/guide.out" 2>&1
  status=$?
  [[ $status -eq 0 ]] || fail "rehearsal with the installed guide: status $status: $(tail -n 5 "$work/guide.out")"
  grep -q '^Program ended successfully\.$' "$work/guide.out" || fail "rehearsal did not end successfully"
fi

for p in "${programs[@]}"; do
  in_root env MANWIDTH=80 man --warnings "$p" >"$work/$p.man" 2>"$work/$p.man.err"
  status=$?
  [[ $status -eq 0 ]] || fail "man $p: status $status"
  [[ ! -s $work/$p.man.err ]] || fail "man $p warns: $(cat "$work/$p.man.err")"
  grep -q "^NAME" "$work/$p.man" && grep -q "^ *$p - " "$work/$p.man" || fail "man $p: no NAME section"
done

# 2. setcap fails, as on a filesystem without extended attributes.
cat >"$root/usr/local/sbin/setcap" <<'STUB'
#!/bin/sh
echo "Failed to set capabilities on file '$2': Operation not supported" >&2
exit 1
STUB
chmod +x "$root/usr/local/sbin/setcap"
install_package setcap-fails
postinst_said setcap-fails || fail "postinst said nothing when setcap failed"
grep -q 'sudo nodletflash' "$work/install-setcap-fails.log" || fail "postinst did not say how to run the tool"
rm "$root/usr/local/sbin/setcap"

# 3. No setcap at all.
in_root dpkg --purge libcap2-bin >"$work/purge.log" 2>&1 || fail "could not remove libcap2-bin: $(cat "$work/purge.log")"
install_package no-setcap
postinst_said no-setcap || fail "postinst said nothing without setcap"
[[ -z $(getcap "$root/usr/bin/nodletflash") ]] || fail "capabilities set without setcap?"

if ((failures > 0)); then
  echo "the root is kept in $root"
else
  rm -rf "$work"
fi
finish "installed on a clean Debian 12 root: runs, has its capabilities, manual pages render; without setcap it installs and says what to do"
