#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 root and checks it there: its dependencies
# are met by the base system; nodletflash belongs to root and the group nodletflash, mode 0750,
# through dpkg-statoverride, with its capabilities, also after the same package is installed
# again (an upgrade); it runs for root and for a member of the group (usage message, status 1,
# nothing on standard error), not for anyone else, and the installed check and guide tell that
# person why; the guide rehearses with the installed virtual hand and sample image; every manual
# page renders without a warning; where the capabilities cannot be set (setcap failing, setcap
# missing) the installation still succeeds and says what to do; a purge takes the override and
# the lock directory back; installed into another root from outside it (DPKG_ROOT), it gives that
# root's group and leaves the running system alone.
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
clean_env=(/usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8)
in_root() { chroot "$root" "${clean_env[@]}" "$@"; }
# as USER GROUPS COMMAND...: runs COMMAND in the root as USER with exactly the groups GROUPS
# (the first one its primary group).
as() {
  local user=$1 groups=$2
  shift 2
  chroot --userspec="$user:${groups%%,*}" --groups="$groups" "$root" "${clean_env[@]}" HOME=/tmp "$@"
}

# owned_as_packaged WHEN: the group, the tool's owner, mode and capabilities, the override, the
# lock directory.
owned_as_packaged() {
  local gid file caps override
  gid=$(in_root getent group nodletflash | cut -d: -f3)
  [[ -n $gid && $gid -lt 1000 ]] || fail "no system group nodletflash ($1): '$gid'"
  file=$(in_root stat -c '%U:%G %a' /usr/bin/nodletflash)
  [[ $file == "root:nodletflash 750" ]] || fail "/usr/bin/nodletflash is $file ($1)"
  caps=$(in_root getcap /usr/bin/nodletflash)
  [[ $caps == "/usr/bin/nodletflash cap_net_admin,cap_sys_nice=ep" ]] || fail "getcap shows '$caps' ($1)"
  override=$(in_root dpkg-statoverride --list)
  [[ $override == "root nodletflash 750 /usr/bin/nodletflash" ]] ||
    fail "dpkg-statoverride --list ($1): $override"
  file=$(in_root stat -c '%U:%G %a' /run/nodletflash)
  [[ $file == "root:nodletflash 3770" ]] || fail "/run/nodletflash is $file ($1)"
}

# usage_runs WHO COMMAND...: the tool started without arguments through COMMAND prints its
# usage, status 1, nothing on standard error.
usage_runs() {
  local who=$1 status
  shift
  "$@" nodletflash >"$work/usage-$who.out" 2>"$work/usage-$who.err"
  status=$?
  [[ $status -eq 1 ]] || fail "nodletflash without arguments ($who) ended with status $status: $(cat "$work/usage-$who.err")"
  printf 'ERRORusage: nodletflash <nodletNumber> <filename>\nProgram ended unsuccessfully.\n' |
    cmp -s - "$work/usage-$who.out" || fail "usage output ($who): $(cat "$work/usage-$who.out")"
  [[ ! -s $work/usage-$who.err ]] || fail "standard error ($who): $(cat "$work/usage-$who.err")"
}

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
owned_as_packaged "first installation"
usage_runs root in_root
in_root useradd --create-home --user-group alice || fail "useradd alice"
in_root usermod --append --groups nodletflash alice || fail "usermod alice"
usage_runs member as alice alice,nodletflash
# One member cannot remove or replace the lock file another member's run made: a second run
# would lock a new file of the same name while the first still drives the bus.
in_root useradd --create-home --user-group bob || fail "useradd bob"
in_root usermod --append --groups nodletflash bob || fail "usermod bob"
as alice alice,nodletflash sh -c ': >/run/nodletflash/can0.lock' || fail "alice cannot make a lock file"
as bob bob,nodletflash rm -f /run/nodletflash/can0.lock 2>/dev/null
[[ -f $root/run/nodletflash/can0.lock ]] || fail "one member removed another member's lock file"
as bob bob,nodletflash mv /run/nodletflash/can0.lock /run/nodletflash/moved 2>/dev/null
[[ -f $root/run/nodletflash/can0.lock ]] || fail "one member moved another member's lock file away"
rm -f "$root/run/nodletflash/can0.lock" "$root/run/nodletflash/moved"

# Anyone else may not start it; the check and the guide say why, and what to do.
tiny=/usr/share/doc/nodletflash/examples/tiny.hex
as nobody nogroup nodletflash >"$work/nobody.out" 2>&1
status=$?
[[ $status -eq 126 ]] || fail "nobody started the tool: status $status: $(cat "$work/nobody.out")"
why='/usr/bin/nodletflash (mode 0750, owner root, group nodletflash) may be run only by root and the members of group nodletflash, and you (nobody) are not a member. An administrator adds you with: sudo adduser nobody nodletflash; then log out and in again'
if [[ " ${programs[*]} " == *" nodletflash-check "* ]]; then
  as nobody nogroup nodletflash-check --listen-ms=0 12 "$tiny" >"$work/check-nobody.out" 2>&1
  status=$?
  [[ $status -eq 1 ]] || fail "the check for nobody: status $status"
  grep -qxF "problem tool: $why" "$work/check-nobody.out" ||
    fail "the check does not tell nobody why: $(cat "$work/check-nobody.out")"
  # Added after logging in: told to log in again.
  in_root usermod --append --groups nodletflash nobody || fail "usermod nobody"
  as nobody nogroup nodletflash-check --listen-ms=0 12 "$tiny" >"$work/check-relogin.out" 2>&1
  grep -q '^problem tool: you (nobody) were made a member of group nodletflash, .* after you logged in: log out and in again, then run it$' \
    "$work/check-relogin.out" || fail "the check does not tell nobody to log in again: $(cat "$work/check-relogin.out")"
  in_root gpasswd --delete nobody nodletflash >/dev/null || fail "gpasswd nobody"
fi
if [[ " ${programs[*]} " == *" nodletflash-guide "* ]]; then
  as nobody nogroup nodletflash-guide --no-log --listen-ms=0 --force 12 "$tiny" >"$work/guide-nobody.out" 2>&1 </dev/null
  grep -qF "Not started: $why" "$work/guide-nobody.out" ||
    fail "the guide does not tell nobody why: $(cat "$work/guide-nobody.out")"
fi

# The same package again, as an upgrade does it: the new file gets owner, mode and capabilities.
install_package again
owned_as_packaged "installed again"
usage_runs member-again as alice alice,nodletflash

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
[[ $(in_root stat -c '%U:%G %a' /usr/bin/nodletflash) == "root:nodletflash 750" ]] ||
  fail "without setcap the tool is not root:nodletflash 0750"

# 4. Purged: the override and the lock directory go; the group and its members stay.
in_root dpkg --purge nodletflash >"$work/purge-package.log" 2>&1 || fail "purge: $(cat "$work/purge-package.log")"
[[ -z $(in_root dpkg-statoverride --list) ]] || fail "override left after purge: $(in_root dpkg-statoverride --list)"
[[ ! -e $root/run/nodletflash ]] || fail "/run/nodletflash left after purge"
in_root getent group nodletflash | grep -qE '[:,]alice(,|$)' || fail "the group or its member went with the purge"

# 5. Into another root, its maintainer scripts run from outside it (DPKG_ROOT): the group is that
# root's, and so are the file's owner and mode, by number; the running system gets nothing.
other=$work/other-root
cp -a "$cache/root" "$other"
dpkg --root="$other" --force-script-chrootless -i "$deb" >"$work/install-chrootless.log" 2>&1 ||
  fail "dpkg --root --force-script-chrootless: $(tail -n 5 "$work/install-chrootless.log")"
gid=$(chroot "$other" getent group nodletflash | cut -d: -f3)
[[ -n $gid ]] || fail "no group nodletflash in the other root"
[[ $(stat -c '%u:%g %a' "$other/usr/bin/nodletflash") == "0:$gid 750" ]] ||
  fail "in the other root the tool is $(stat -c '%u:%g %a' "$other/usr/bin/nodletflash"), not 0:$gid 750"
[[ $(getcap "$other/usr/bin/nodletflash") == "$other/usr/bin/nodletflash cap_net_admin,cap_sys_nice=ep" ]] ||
  fail "in the other root: getcap shows '$(getcap "$other/usr/bin/nodletflash")'"
[[ ! -s $other/var/lib/dpkg/statoverride ]] || fail "an override of the running system's names: $(cat "$other/var/lib/dpkg/statoverride")"
[[ ! -e $other/run/nodletflash ]] || fail "the lock directory made in a root that is not running"
getent group nodletflash >/dev/null && fail "the group was made on the running system"

if ((failures > 0)); then
  echo "the root is kept in $root"
else
  rm -rf "$work"
fi
finish "installed on a clean Debian 12 root: root:nodletflash 0750 with its capabilities, also installed again; runs for root and members only, and tells others why; manual pages render; without setcap it installs and says what to do; purged cleanly; into another root through DPKG_ROOT"
