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
expected="$(mktemp -d)"
trap 'rm -rf "$stage" "$expected"' EXIT
cp "$tool" "$stage/nodletflash-static"
cp "$hand" "$stage/virtual-hand"
cp "$image" "$stage/firmware-100k.hex"

start=$(date +%s.%N)
bash "$here/../../tools/qemu-vcan/run.sh" --cache "$cache" --out "$outdir" --timeout 1500 "$here/download-guest.sh" \
    "$here/guest-lib.sh" "$stage/nodletflash-static" "$stage/virtual-hand" "$stage/firmware-100k.hex"
wall=$(echo "$start $(date +%s.%N)" | awk '{ printf "%.1f", $2 - $1 }')
files="$outdir/files"
source "$here/checks.sh"

# --- the download -----------------------------------------------------------------------------
download_stdout "$image" 12 "Finger 2" >"$expected/download"
same_stdout download "$expected/download"
expect "download: status" "$(cat "$files/download.status")" 0
expect "download: 100 progress reports" "$(grep -c '^DOWNPROG' "$expected/download")" 100
received_whole download "$image"
expect "download: can0 afterwards" "$(cat "$files/download.can0")" up

# --- a second run while the first downloads: refused at once, the first undisturbed -------------
refused_adapter >"$expected/no-can"
same_stdout second "$expected/no-can"
expect "second: status" "$(cat "$files/second.status")" 1

# --- runs ended by a signal: no closing line, the shell's status 128 + signal, can0 as found ------
# stdout is what the whole download prints, cut short where the signal landed.
for name in sigint-handshake sigterm-download sigterm-down-handshake; do
    cut_short "$name" "$expected/download"
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

# --- can0 removed mid-run, as an unplugged adapter's interface vanishes: one ERROR line, then the
# closing line, status 1, once the reset retries or the go-ahead wait have run out --------------
for name in unplug-handshake unplug-download; do
    ended_by_removal "$name" "$expected/download" 30
done
if grep -q '^DOWNPROG' "$files/unplug-download.stdout"; then
    ok "unplug-download: can0 was removed during the download"
else
    not_ok "unplug-download: can0 was removed before the download"
fi

# --- a node that never answers ----------------------------------------------------------------
never_answers >"$expected/silent"
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
all_stderr_empty

# --- measured ---------------------------------------------------------------------------------
echo "measure download: $(field download data_frames) characters in $(field download download_ms) ms from the start frame to the last character: $(field download download_chars_per_s) characters/s; the whole run $(cat "$files/download.seconds") s"
echo "measure a second run refused while the first downloads: $(cat "$files/second.seconds") s"
echo "measure never-answering node: message 14 after $(cat "$files/silent.seconds") s ($(field silent queries) queries)"
echo "measure qemu boot and all runs: ${wall} s"
finish
