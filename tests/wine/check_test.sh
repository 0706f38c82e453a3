#!/usr/bin/env bash
# nodletflash-check.exe under Wine: where the tool would load PCANBasic.dll from, and whether
# that library is one the tool can use. Each case lays out a directory of its own.
#
#   check_test.sh PREFIX CHECK_EXE TOOL_EXE STANDIN_DLL NO_WRITE_DLL IMAGE
set -uo pipefail

(($# == 6)) || { sed -n '2,5p' "$0" >&2; exit 2; }
prefix=$(realpath "$1") check=$2 tool=$3 standin=$4 no_write=$5 image=$6

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/check_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
pass() { echo "ok - $*"; }
fail() { echo "not ok - $*"; failures=$((failures + 1)); }
win() { local p=Z:$1; echo "${p//\//\\}"; }

# layout NAME [DLL]: a directory with the tool and, if given, the library next to it.
layout() {
    mkdir -p "$work/$1"
    cp "$tool" "$work/$1/nodletflash.exe"
    [[ -n ${2:-} ]] && cp "$2" "$work/$1/PCANBasic.dll"
    return 0
}

# run NAME EXE ARGS...: runs the check, its output with CR LF turned into LF in $work/NAME.out.
run() {
    local name=$1
    shift
    (cd "$work" && timeout -k 10 120 wine "$@") </dev/null >"$work/$name.raw" 2>"$work/$name.err"
    code=$?
    tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
    echo "--- $name (status $code)"
    cat "$work/$name.out"
    # Only a usage error is told on standard error.
    [[ $name != usage && -s $work/$name.err ]] && fail "$name: standard error is not empty: $(head -c 300 "$work/$name.err")"
    return 0
}
expect_status() { [[ $code == "$2" ]] && pass "$1: status $2" || fail "$1: status $code, want $2"; }
has() { grep -Fq -- "$2" "$work/$1.out" && pass "$1: $2" || fail "$1: no line has: $2"; }
lacks_crlf() {
    # Windows text mode: every line of the raw output ends in CR LF.
    [[ $(grep -c $'\r$' "$work/$1.raw") == $(wc -l <"$work/$1.raw") ]] && pass "$1: CR LF lines" ||
        fail "$1: lines without CR LF"
}

cp "$image" "$work/image.hex"

layout good "$standin"
run good "$check" "--tool=$(win "$work/good/nodletflash.exe")" 12 image.hex
expect_status good 0
has good "ok library: $(win "$work/good/PCANBasic.dll"): 64-bit, exports ordinals 1, 2, 5 and 6"
has good "ok lock: no other run holds channel 0x51"
has good "warning channel: channel 0x51 is not checked"
lacks_crlf good

# Found next to the check itself, without --tool.
cp "$check" "$work/good/nodletflash-check.exe"
run beside "$work/good/nodletflash-check.exe" 12 image.hex
expect_status beside 0
has beside "ok tool: $(win "$work/good/nodletflash.exe") (next to this program)"

layout no-write "$no_write"
run no-write "$check" "--tool=$(win "$work/no-write/nodletflash.exe")" 12 image.hex
expect_status no-write 1
has no-write "lacks the calls the tool takes by ordinal: 6 "

# The stand-in marked as built for 32-bit x86: the machine field after the PE signature.
layout w32 "$standin"
pe=$(od -An -t u4 -j 60 -N 4 "$work/w32/PCANBasic.dll" | tr -d ' ')
printf '\x4c\x01' | dd of="$work/w32/PCANBasic.dll" bs=1 seek=$((pe + 4)) conv=notrunc status=none
run w32 "$check" "--tool=$(win "$work/w32/nodletflash.exe")" 12 image.hex
expect_status w32 1
has w32 "is a 32-bit library: the 64-bit tool cannot load it"

layout none
run none "$check" "--tool=$(win "$work/none/nodletflash.exe")" 12 image.hex
expect_status none 1
has none "problem library: no PCANBasic.dll where the tool looks ($(win "$work/none/PCANBasic.dll"), C:\\windows\\system32\\PCANBasic.dll)"

run no-tool "$check" "--tool=$(win "$work/nowhere/nodletflash.exe")" 12 image.hex
expect_status no-tool 1
has no-tool "problem tool: no nodletflash.exe at"

# The file checks are the same on Windows: a damaged record, reported where it is.
sed -e '2s/^\(%....\)./\1Z/' "$image" >"$work/damaged.hex"
run damaged "$check" --image-only 12 damaged.hex
expect_status damaged 1
has damaged "problem record: line 2, column 6: checksum is not two hex digits: found 'Z'"

run usage "$check" 12
expect_status usage 2
grep -q "nodletNumber and filename are required" "$work/usage.err" && pass "usage: told on standard error" ||
    fail "usage: standard error does not say what is missing"

((failures == 0)) || { echo "$failures checks failed"; exit 1; }
echo "all checks passed"
