#!/usr/bin/env bash
# Checks the Windows zip as built: one folder holding the programs, README.txt with CR LF line
# ends and the troubleshooting table, and the sample images; programs that are 64-bit and need
# no DLL beyond Windows' own.
#
#   zip_contents_test.sh ZIP VERSION PROGRAMS EXAMPLES
#
# PROGRAMS and EXAMPLES are ;-separated lists: the programs this build installs (gaps for absent
# ones are skipped), and the sample images' file names.
set -uo pipefail
source "$(dirname "$0")/test_lib.sh"

read_package_arguments 'nodletflash-@VERSION@-win64.zip' "$@"
zip=$package

top=nodletflash-$version-win64
expected=$(
  for p in "${programs[@]}"; do echo "$top/$p.exe"; done
  echo "$top/README.txt"
  for e in "${examples[@]}"; do echo "$top/examples/$e"; done
)
actual=$(unzip -Z1 "$zip" | grep -v '/$')
diff <(sort <<<"$expected") <(sort <<<"$actual") || fail "file list differs (< expected, > in the zip)"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
unzip -q "$zip" -d "$out" || fail "unzip failed"

readme=$out/$top/README.txt
if [[ -f $readme ]]; then
  lines=$(grep -c '' "$readme")
  crlf=$(grep -c $'\r$' "$readme")
  [[ $lines -gt 0 && $lines -eq $crlf ]] || fail "README.txt: $crlf of $lines lines end in CR LF"
  [[ $(tail -c 2 "$readme" | od -An -tx1 | tr -d ' \n') == 0d0a ]] || fail "README.txt does not end with CR LF"
  grep -q $'\r.' "$readme" && fail "README.txt has a CR inside a line"
  grep -q "PCANBasic.dll" "$readme" || fail "README.txt does not say where PCANBasic.dll goes"
  grep -q "nodletflash-$version" "$readme" || fail "README.txt does not carry the version"
  grep -q '@[A-Z_]*@' "$readme" && fail "README.txt has an unfilled part"
  # The ERROR lines of the tool have their entries in the table (its lines wrapped, so read as one).
  flat=$(tr -d '\r' <"$readme" | tr -s ' \n' '  ')
  for message in "Error initializing CAN" "Timeout occured while waiting for nodlet to be powered off" \
    "Timeout occured while attempting to connect to nodlet" "Error sending firmware byte"; do
    grep -qF "$message" <<<"$flat" || fail "README.txt's troubleshooting lacks \"$message\""
  done
fi

for p in "${programs[@]}"; do
  exe=$out/$top/$p.exe
  [[ -f $exe ]] || continue
  # PE32+ for x86-64: the machine field (0x8664) right after the "PE\0\0" signature.
  pe=$(od -An -tu4 -j 60 -N 4 "$exe" | tr -d ' ')
  [[ $(od -An -tx1 -j "$pe" -N 6 "$exe" | tr -d ' \n') == 504500006486 ]] || fail "$p.exe is not a 64-bit Windows program"
  # Only Windows' own DLLs: no MinGW runtime next to the program is needed.
  while read -r dll; do
    case ${dll,,} in
      # bcrypt.dll (the window's token), mswsock.dll (its sockets) and iphlpapi.dll (the TCP
      # table that names who connects) come with Windows too.
      kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | ws2_32.dll | shell32.dll | ole32.dll | \
        bcrypt.dll | mswsock.dll | iphlpapi.dll | api-ms-win-*) ;;
      *) fail "$p.exe needs $dll" ;;
    esac
  done < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
done

finish "zip $(basename "$zip"): file list, README.txt (CR LF) and 64-bit programs needing only Windows' DLLs"
