#!/bin/bash
# The arm64 build on a real kernel CAN stack: boots the arm64 guest once (run.sh --arm64), runs
# arm64-guest.sh in it and judges what the guest left behind as the amd64 guest's runs are
# judged: the download's stdout byte for byte and every payload character received in order,
# the interface as the run found it after SIGTERM, the guide's rehearsal, and nothing on
# standard error anywhere.
#
# Usage: arm64-test.sh OUTDIR CACHE NODLETFLASH GUIDE SIM VIRTUAL_HAND IMAGE TINY_IMAGE
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -eq 8 ] || { sed -n '2,8p' "${BASH_SOURCE[0]}" >&2; exit 2; }
outdir="$1" cache="$2" tool="$3" guide="$4" sim="$5" hand="$6" image="$7" tiny="$8"

stage="$(mktemp -d)"
expected="$(mktemp -d)"
trap 'rm -rf "$stage" "$expected"' EXIT
cp "$tool" "$stage/nodletflash-static"
cp "$guide" "$stage/nodletflash-guide-static"
cp "$sim" "$stage/nodletflash-sim-static"
cp "$hand" "$stage/virtual-hand"
cp "$image" "$stage/firmware-100k.hex"
cp "$tiny" "$stage/tiny.hex"

start=$(date +%s.%N)
bash "$here/../../tools/qemu-vcan/run.sh" --arm64 --cache "$cache" --out "$outdir" --timeout 1500 \
    "$here/arm64-guest.sh" "$here/guest-lib.sh" "$stage"/*
wall=$(echo "$start $(date +%s.%N)" | awk '{ printf "%.1f", $2 - $1 }')
files="$outdir/files"
source "$here/checks.sh"

# --- the download -----------------------------------------------------------------------------
download_stdout "$image" 12 "Finger 2" >"$expected/download"
same_stdout download "$expected/download"
expect "download: status" "$(cat "$files/download.status")" 0
received_whole download "$image"
expect "download: can0 afterwards" "$(cat "$files/download.can0")" up

# --- ended by SIGTERM during the download: no closing line, status 143, can0 as found ---------
for name in sigterm-download sigterm-down; do
    cut_short "$name" "$expected/download"
    expect "$name: status" "$(cat "$files/$name.status")" 143
    if grep -q '^DOWNPROG' "$files/$name.stdout"; then
        ok "$name: the signal landed in the download"
    else
        not_ok "$name: the signal landed before the download"
    fi
done
expect "sigterm-download: can0 afterwards" "$(cat "$files/sigterm-download.can0")" up
expect "sigterm-down: can0 afterwards" "$(cat "$files/sigterm-down.can0")" down

# --- the guide's rehearsal: its checks, the tool's lines in order, the module done ------------
expect "guide: status" "$(cat "$files/guide.status")" 0
in_order=(
    "Module 12 (Finger 2): tiny.hex  (rehearsal with the virtual hand: normal)"
    "  ok      record: every record is sound"
    "Loading firmware file..."
    ">> Please power off the hand, wait 5 seconds, then power the hand back on."
    "Starting download of firmware tiny.hex to Finger 2 (nodlet 12)..."
    "Download complete!"
    "Program ended successfully."
)
rest="$files/guide.stdout"
position=0
for line in "${in_order[@]}"; do
    found=$(tail -n "+$((position + 1))" "$rest" | grep -n -x -F -m1 -- "$line" | cut -d: -f1 || true)
    if [ -n "$found" ]; then
        position=$((position + found))
    else
        not_ok "guide: no line \"$line\" where it belongs"
        position=-1
        break
    fi
done
[ "$position" -ge 0 ] && ok "guide: its checks and the tool's lines, in order"
# The verdict's line: the module done, then what that means for the hand.
if tail -n1 "$rest" | grep -q '^Module 12 (Finger 2): done ([0-9.]* s)\. Every character of the file was sent'; then
    ok "guide: the module is done"
else
    not_ok "guide: last line: $(tail -n1 "$rest")"
fi

all_stderr_empty

# --- measured ---------------------------------------------------------------------------------
echo "measure download: $(field download data_frames) characters in $(field download download_ms) ms from the start frame to the last character: $(field download download_chars_per_s) characters/s; the whole run $(cat "$files/download.seconds") s"
echo "measure qemu boot and all runs: ${wall} s"
finish
