#!/usr/bin/env bash
# Checks the Debian package as built: its file list, its control data and its maintainer
# script, and what lintian says of it (no error, no warning); its dependencies must be met by
# the oldest system we install on.
#
#   deb_contents_test.sh DEB VERSION PROGRAMS EXAMPLES [ARCHITECTURE]
#
# PROGRAMS and EXAMPLES are ;-separated lists: the programs this build installs, and the sample
# images' file names. ARCHITECTURE is the package's Debian architecture (default amd64).
set -uo pipefail
source "$(dirname "$0")/test_lib.sh"

architecture=${5:-amd64}
read_package_arguments "nodletflash_@VERSION@_${architecture}.deb" "$@"
deb=$package

# The files, and nothing else.
expected=$(
  for p in "${programs[@]}"; do
    echo "./usr/bin/$p"
    echo "./usr/share/man/man1/$p.1.gz"
  done
  echo ./usr/lib/tmpfiles.d/nodletflash.conf
  echo ./usr/share/doc/nodletflash/copyright
  echo ./usr/share/doc/nodletflash/changelog.gz
  for e in "${examples[@]}"; do echo "./usr/share/doc/nodletflash/examples/$e"; done
)
actual=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$')
diff <(sort <<<"$expected") <(sort <<<"$actual") || fail "file list differs (< expected, > in the package)"
# Everything is root's, programs executable, the rest not.
while read -r mode owner _ _ _ name; do
  [[ $owner == root/root ]] || fail "$name belongs to $owner"
  case $name in
    */) [[ $mode == drwxr-xr-x ]] || fail "$name has mode $mode" ;;
    ./usr/bin/*) [[ $mode == -rwxr-xr-x ]] || fail "$name has mode $mode" ;;
    *) [[ $mode == -rw-r--r-- ]] || fail "$name has mode $mode" ;;
  esac
done < <(dpkg-deb -c "$deb")

# Control data.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == nodletflash ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), not $version"
[[ $(field Architecture) == "$architecture" ]] || fail "Architecture: $(field Architecture)"
[[ $(field Recommends) == *libcap2-bin* || $(field Depends) == *libcap2-bin* ]] ||
  fail "neither Depends nor Recommends names libcap2-bin"
# The computed dependencies: the C and C++ runtimes and zlib (required on every Debian and
# Ubuntu system) only. The netlink library is linked in.
depends=$(field Depends)
[[ $depends == *libc6* ]] || fail "Depends lacks libc6 (were the dependencies computed?): $depends"
for d in $(sed 's/([^)]*)//g; s/,/ /g' <<<"$depends"); do
  case $d in
    libc6 | libgcc-s1 | libstdc++6 | zlib1g | libcap2-bin | passwd) ;;
    *) fail "Depends names $d, which a clean system lacks" ;;
  esac
done

# The floor: Ubuntu 22.04 LTS (jammy), the oldest release the package is for (Jetson boards run
# it), as installed from its release pocket with no updates. Versions as published for jammy
# (packages.ubuntu.com/jammy: libc6 from glibc 2.35-0ubuntu3; libstdc++6 and libgcc-s1 from
# gcc-12 12-20220319-1ubuntu1; zlib1g from zlib 1.2.11); the same on amd64 and arm64. Debian 12 and Raspberry Pi OS
# (bookworm, glibc 2.36, GCC 12) and Ubuntu 24.04 (glibc 2.39, GCC 14) provide more.
declare -A floor=(
  [libc6]=2.35-0ubuntu3
  [libstdc++6]=12-20220319-1ubuntu1
  [libgcc-s1]=12-20220319-1ubuntu1
  [zlib1g]=1:1.2.11  # zlib 1.2.11, below any Debian revision of it
)
# meets_floor "NAME (OP VERSION)": whether the floor's NAME satisfies the versioned dependency.
meets_floor() {
  local name op need
  read -r name op need < <(sed -E 's/[(),]/ /g' <<<"$1")
  [[ -n ${floor[$name]:-} ]] || return 1
  [[ -z $op ]] && return 0
  dpkg --compare-versions "${floor[$name]}" "$op" "$need"
}
# The comparison itself must refuse what the floor lacks, or the check below proves nothing.
meets_floor 'libc6 (>= 2.36)' && fail "the floor check accepts libc6 (>= 2.36)"
meets_floor 'libstdc++6 (>= 12.3)' && fail "the floor check accepts libstdc++6 (>= 12.3)"
meets_floor 'libgcc-s1 (>= 3.0)' || fail "the floor check refuses libgcc-s1 (>= 3.0)"
IFS=',' read -r -a needs <<<"$depends"
for need in "${needs[@]}"; do
  need=$(sed -E 's/^ +| +$//g' <<<"$need")
  [[ $need == libc6* || $need == libstdc++6* || $need == libgcc-s1* || $need == zlib1g* ]] ||
    continue
  meets_floor "$need" || fail "Depends: $need is more than Ubuntu 22.04 provides (${floor[${need%% *}]})"
done

# The maintainer scripts: postinst and postrm only, executable, valid sh. The postinst makes the
# group, gives the program to it through dpkg-statoverride and only then sets the capabilities
# (a change of owner would clear them); the postrm takes the override back on purge.
scripts=$(mktemp -d)
trap 'rm -rf "$scripts"' EXIT
dpkg-deb -e "$deb" "$scripts"
for s in preinst prerm; do [[ ! -e $scripts/$s ]] || fail "unexpected $s"; done
for s in postinst postrm; do
  [[ -x $scripts/$s ]] || fail "$s missing or not executable"
  sh -n "$scripts/$s" || fail "$s is not valid sh"
done
grep -q 'cap_net_admin,cap_sys_nice+ep' "$scripts/postinst" || fail "postinst does not grant the capabilities"
grep -q '"${DPKG_ROOT:-}$bindir/nodletflash"' "$scripts/postinst" || fail "postinst names another program"
grep -q '^bindir="/usr/bin"$' "$scripts/postinst" || fail "postinst's program is not in /usr/bin"
step_line() { grep -n -E "^ +$1( |;|$)" "$scripts/postinst" | head -n 1 | cut -d: -f1; }
previous=0
for step in make_group restrict_program 'if ! grant_capabilities'; do
  line=$(step_line "$step")
  [[ -n $line && $line -gt $previous ]] || fail "postinst does not run '$step' after the steps before it"
  previous=${line:-$previous}
done
grep -q 'dpkg-statoverride --remove' "$scripts/postrm" || fail "postrm leaves the override on purge"
[[ $(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/tmpfiles.d/nodletflash.conf | grep -v '^#') == \
  "d /run/nodletflash 3770 root nodletflash -" ]] || fail "the lock directory's tmpfiles line"

# lintian: errors and warnings fail; the informational tags are listed in the README.
if command -v lintian >/dev/null; then
  lintian --allow-root --display-info --no-tag-display-limit "$deb" >"$scripts/lintian.txt" 2>&1
  grep -E '^[EW]: ' "$scripts/lintian.txt" && fail "lintian reports errors or warnings"
  grep -F 'unused-override' "$scripts/lintian.txt" && fail "the package overrides what lintian no longer says"
  grep -E '^[A-Z]: ' "$scripts/lintian.txt" | sed 's/^/lintian: /'
else
  fail "lintian is missing (tools/setup-dev.sh)"
fi

finish "package $(basename "$deb"): file list, control data, postinst and lintian are as they should be"
