#!/usr/bin/env bash
# Checks that a cross-built Debian package is the twin of this machine's: the same files, the
# same control data but for the architecture and the installed size, the same dependencies by
# name (their versions follow each architecture's symbols and are checked against the floor by
# deb_contents_test.sh) and the same maintainer scripts.
#
#   deb_twins_test.sh CROSS_DEB NATIVE_DEB
#
# Without the native package (its build has not made it yet) the test is skipped (status 77).
set -uo pipefail
source "$(dirname "$0")/test_lib.sh"

cross=$1
native=$2
[[ -f $cross ]] || { echo "FAIL: no package $cross"; exit 1; }
if [[ ! -f $native ]]; then
  echo "SKIP: no native package $native to compare with (make it with cpack in its build tree)"
  exit 77
fi

files() { dpkg-deb -c "$1" | awk '{ print $1, $2, $6 }' | sort; }
diff <(files "$native") <(files "$cross") || fail "file lists, modes or owners differ (< native, > cross)"

control() {
  dpkg-deb -f "$1" | grep -v -E '^(Architecture|Installed-Size):' |
    sed -E '/^Depends:/ s/ \([^)]*\)//g'
}
diff <(control "$native") <(control "$cross") || fail "control data differs (< native, > cross)"
[[ $(dpkg-deb -f "$cross" Architecture) != "$(dpkg-deb -f "$native" Architecture)" ]] ||
  fail "both packages are for $(dpkg-deb -f "$cross" Architecture)"

scripts=$(mktemp -d)
trap 'rm -rf "$scripts"' EXIT
dpkg-deb -e "$native" "$scripts/native"
dpkg-deb -e "$cross" "$scripts/cross"
for s in preinst postinst prerm postrm config triggers conffiles; do
  if [[ -e $scripts/native/$s || -e $scripts/cross/$s ]]; then
    cmp -s "$scripts/native/$s" "$scripts/cross/$s" || fail "$s differs"
  fi
done

finish "$(basename "$cross") is the twin of $(basename "$native"): files, control data, maintainer scripts"
