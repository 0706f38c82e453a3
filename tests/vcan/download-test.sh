#!/bin/bash
# The whole road on a real kernel CAN stack: boots the vcan guest once, runs download-guest.sh in
# it (the real nodletflash against virtual-hand, and the runs where the node or the interface is
# missing) and checks what the guest left behind against what is computed here from the image.
#
# Usage: download-test.sh OUTDIR CACHE NODLETFLASH VIRTUAL_HAND IMAGE
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -eq 5 ] || { sed -n '2,6p' "${BASH_SOURCE[0]}" >&2; exit 2; }
outdir="$1" cache="$2" tool="$3" hand="$4" image="$5"

# Guest payload under the names the guest script uses.
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$tool" "$stage/nodletflash-static"
cp "$hand" "$stage/virtual-hand"
cp "$image" "$stage/firmware-100k.hex"

start=$(date +%s.%N)
bash "$here/../../tools/qemu-vcan/run.sh" --cache "$cache" --out "$outdir" --timeout 1500 "$here/download-guest.sh" \
    "$stage/nodletflash-static" "$stage/virtual-hand" "$stage/firmware-100k.hex"
wall=$(echo "$start $(date +%s.%N)" | awk '{ printf "%.1f", $2 - $1 }')
files="$outdir/files"

failures=0
ok() { echo "ok - $*"; }
not_ok() { echo "not ok - $*"; failures=$((failures + 1)); }
expect() {  # expect NAME ACTUAL WANTED
    if [ "$2" = "$3" ]; then ok "$1"; else not_ok "$1: got '$2', want '$3'"; fi
}
# A number or string field of a hand's report.
field() { sed -n "s/^  \"$2\": \(.*\)\$/\1/p" "$files/$1.report" | sed 's/,$//; s/^"//; s/"$//'; }
same_stdout() {  # same_stdout NAME EXPECTED_FILE
    if cmp -s "$files/$1.stdout" "$2"; then
        ok "$1: stdout is byte for byte as expected"
    else
        not_ok "$1: stdout differs from the expected text"
        diff "$2" "$files/$1.stdout" | head -n 20 || true
    fi
}

expected="$(mktemp -d)"
trap 'rm -rf "$stage" "$expected"' EXIT

# --- the download -----------------------------------------------------------------------------
# Progress: a line prints when the whole percentage 100k/L changes; its value is k*100/L in
# double precision rounded to single precision (nearest, ties to even), printed with %f.
lines=$(($(tr -cd '\n' <"$image" | wc -c) + 1))
{
    printf 'Loading firmware file...\nInitializing CAN connection...\n'
    printf 'USERMESSAGETo prevent errors, please close non-essential programs on your computer.\n'
    printf 'USERMESSAGEPlease power off the hand, wait 5 seconds, then power the hand back on.\n'
    printf 'Starting download of firmware firmware-100k.hex to Finger 2 (nodlet 12)...\n'
    awk -v L="$lines" '
        function single(x,    e, ulp, q, r, f) {
            e = 0
            while (2 ^ e > x) e--
            while (2 ^ (e + 1) <= x) e++
            ulp = 2 ^ (e - 23)
            q = x / ulp; r = int(q); f = q - r
            if (f > 0.5 || (f == 0.5 && r % 2 == 1)) r++
            return r * ulp
        }
        BEGIN {
            last = 0
            for (k = 1; k <= L; k++) {
                p = int(100 * k / L)
                if (p != last) { last = p; printf "DOWNPROG%f\n", single(k * 100.0 / L) }
            }
        }'
    printf '\nDownload complete!\n\nClosing CAN connection...\n'
    printf 'USERMESSAGEPlease power cycle the hand to complete the firmware download process.\n'
    printf 'Program ended successfully.\n'
} >"$expected/download"
same_stdout download "$expected/download"
expect "download: status" "$(cat "$files/download.status")" 0
expect "download: 100 progress reports" "$(grep -c '^DOWNPROG' "$expected/download")" 100

# Every payload character of the image, in order: each line without its record mark, up to CR.
payload="$(sed 's/^.//; s/\r$//' "$image" | tr -d '\n')"
records=$(grep -c . "$image")
data="$(field download data)"
if [ "$data" = "$payload" ]; then
    ok "download: the node received every payload character in order (${#payload})"
else
    not_ok "download: the node received ${#data} characters, not the image's ${#payload} in order"
fi
expect "download: data frames on the bus" "$(field download data_frames)" "${#payload}"
expect "download: records with a good checksum" "$(field download records_ok)" "$records"
expect "download: records with a bad checksum" "$(field download records_bad)" 0
expect "download: record characters left over" "$(field download record_chars_pending)" 0
expect "download: reset frames" "$(field download resets)" 1
expect "download: start frames" "$(field download starts)" 1
expect "download: the hand went off once" "$(field download power_offs)" 1
expect "download: can0 afterwards" "$(cat "$files/download.can0")" up
expect "download: the hand's exit status" "$(cat "$files/download.hand-status")" 0

# --- a second run while the first downloads: refused at once, the first undisturbed -------------
printf 'Loading firmware file...\nInitializing CAN connection...\nERRORError initializing CAN- ensure adapter is properly connected and PEAK CAN drivers are installed.\nProgram ended unsuccessfully.\n' >"$expected/no-can"
same_stdout second "$expected/no-can"
expect "second: status" "$(cat "$files/second.status")" 1

# --- runs ended by a signal: no closing line, the shell's status 128 + signal, can0 as found ------
# stdout is what the whole download prints, cut short where the signal landed.
prefix_of_download() {  # prefix_of_download NAME
    local size instructions
    size=$(wc -c <"$files/$1.stdout")
    instructions=$(head -n 4 "$expected/download" | wc -c)
    if [ "$size" -ge "$instructions" ] && head -c "$size" "$expected/download" | cmp -s - "$files/$1.stdout" &&
        ! grep -q '^Program ended' "$files/$1.stdout"; then
        ok "$1: stdout is the download's, cut short, without a closing line"
    else
        not_ok "$1: stdout is not the download's cut short"
        head -n 8 "$files/$1.stdout"
    fi
}
for name in sigint-handshake sigterm-download sigterm-down-handshake; do
    prefix_of_download "$name"
done
expect "sigint-handshake: status" "$(cat "$files/sigint-handshake.status")" 130
expect "sigint-handshake: can0 afterwards" "$(cat "$files/sigint-handshake.can0")" up
expect "sigterm-download: status" "$(cat "$files/sigterm-download.status")" 143
if grep -q '^DOWNPROG' "$files/sigterm-download.stdout"; then
    ok "sigterm-download: the signal landed in the download"
else
    not_ok "sigterm-download: the signal landed before the download"
fi
expect "sigterm-download: can0 afterwards" "$(cat "$files/sigterm-download.can0")" up
expect "sigterm-down-handshake: status" "$(cat "$files/sigterm-down-handshake.status")" 143
expect "sigterm-down-handshake: can0 afterwards" "$(cat "$files/sigterm-down-handshake.can0")" down

# --- a node that never answers ----------------------------------------------------------------
{
    printf 'Loading firmware file...\nInitializing CAN connection...\n'
    printf 'USERMESSAGETo prevent errors, please close non-essential programs on your computer.\n'
    printf 'USERMESSAGEPlease power off the hand, wait 5 seconds, then power the hand back on.\n'
    printf 'ERRORTimeout occured while attempting to connect to nodlet. Please ensure that your hand is connected and powered on. If your hand is powered on, please try again and power your hand on earlier in the process.\n'
    printf 'Program ended unsuccessfully.\n'
} >"$expected/silent"
same_stdout silent "$expected/silent"
expect "silent: status" "$(cat "$files/silent.status")" 1
expect "silent: queries on the bus (the attempt budget)" "$(field silent queries)" 500
# The interface stops at the first open, at every recycle and at the final close.
downs=$(field silent interface_downs)
if [ "${downs:-0}" -ge 501 ]; then
    ok "silent: every recycle stopped the interface ($downs stops)"
else
    not_ok "silent: the interface stopped $downs times in 500 attempts"
fi
expect "silent: can0 afterwards" "$(cat "$files/silent.can0")" up

# --- no right to control the interface, and no interface --------------------------------------
for name in nocap nocan0; do
    same_stdout "$name" "$expected/no-can"
    expect "$name: status" "$(cat "$files/$name.status")" 1
done
expect "nocap: can0 afterwards" "$(cat "$files/nocap.can0")" up

# --- standard error: never written to, on any of these roads ----------------------------------
for file in "$files"/*.stderr; do
    name=$(basename "$file" .stderr)
    if [ -s "$file" ]; then
        not_ok "$name: standard error is not empty"
        head -n 5 "$file"
    else
        ok "$name: standard error is empty"
    fi
done

# --- measured ---------------------------------------------------------------------------------
echo "measure download: $(field download data_frames) characters in $(field download download_ms) ms from the start frame to the last character: $(field download download_chars_per_s) characters/s; the whole run $(cat "$files/download.seconds") s"
echo "measure a second run refused while the first downloads: $(cat "$files/second.seconds") s"
echo "measure never-answering node: message 14 after $(cat "$files/silent.seconds") s ($(field silent queries) queries)"
echo "measure qemu boot and all runs: ${wall} s"

if [ $failures -ne 0 ]; then
    echo "$failures checks failed"
    exit 1
fi
echo "all checks passed"
