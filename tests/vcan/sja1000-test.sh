#!/bin/bash
# The tool on a real CAN controller driver: boots the guest once with two emulated SJA1000
# controllers on one bus (run.sh --sja1000), runs sja1000-guest.sh in it with IMAGE cut short
# and SMALL_IMAGE, and checks every run of the tool (as an unprivileged account holding the
# package's file capabilities): stdout byte for byte, status, what the node received, can0's
# state and bit timing afterwards, its link events, and an empty standard error.
#
# Usage: sja1000-test.sh OUTDIR CACHE NODLETFLASH VIRTUAL_HAND IMAGE SMALL_IMAGE
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -eq 6 ] || { sed -n '2,6p' "${BASH_SOURCE[0]}" >&2; exit 2; }
outdir="$1" cache="$2" tool="$3" hand="$4" image="$5" small="$6"

# Longest time from the card's removal to the tool's end that passes. A removal during the
# download ends the run when the go-ahead wait (3,000,000 reads) runs out; one during the
# handshake at once when the next query cannot be sent, or when the reset's 3,000 stop attempts,
# 1 ms apart, have failed: up to 8 s in this guest. The bound leaves room for a loaded host and
# catches a run that hangs or crawls.
unplug_bound=30.0

stage="$(mktemp -d)"
expected="$(mktemp -d)"
trap 'rm -rf "$stage" "$expected"' EXIT
cp "$tool" "$stage/nodletflash-static"
cp "$hand" "$stage/virtual-hand"
# The downloads that are signalled, unplugged or overlapped need only last a few seconds: the
# first 200 records of IMAGE and its termination record, some 15,600 characters.
image_200="$stage/firmware-200.hex"
{ head -n 200 "$image"; tail -n 1 "$image"; } >"$image_200"
cp "$small" "$stage/tiny.hex"

start=$(date +%s.%N)
bash "$here/../../tools/qemu-vcan/run.sh" --sja1000 --cache "$cache" --out "$outdir" --timeout 1500 \
    "$here/sja1000-guest.sh" "$here/guest-lib.sh" "$stage/nodletflash-static" "$stage/virtual-hand" \
    "$image_200" "$stage/tiny.hex"
wall=$(echo "$start $(date +%s.%N)" | awk '{ printf "%.1f", $2 - $1 }')
files="$outdir/files"
source "$here/checks.sh"

download_stdout "$image_200" 12 "Finger 2" >"$expected/download"
refused_adapter >"$expected/refused"

# can0 NAME BEFORE AFTER: can0's state before and after run NAME.
can0() {
    expect "$1: can0 before" "$(cat "$files/$1.before")" "$2"
    expect "$1: can0 afterwards" "$(cat "$files/$1.can0")" "$3"
}
# A hand's count of every frame it saw from the tool.
frames_seen() {
    echo $(($(field "$1" queries) + $(field "$1" resets) + $(field "$1" starts) +
        $(field "$1" data_frames) + $(field "$1" other_frames)))
}
# same_timing NAME: can0's up flag and bit timing after run NAME are those before it.
same_timing() {
    expect "$1: can0's flag and bit timing afterwards are those before" \
        "$(cat "$files/$1.timing")" "$(cat "$files/$1.before-timing")"
}
# untouched NAME: `ip monitor link` saw no change of can0 during run NAME, and saw the change
# made after it.
untouched() {
    local during after
    during=$(sed '/^@@after$/q' "$files/$1.monitor" | grep -c 'can0' || true)
    after=$(sed '0,/^@@after$/d' "$files/$1.monitor" | grep -c 'can0' || true)
    expect "$1: link changes of can0 during the run" "$during" 0
    if [ "$after" -gt 0 ]; then ok "$1: the link monitor saw the change made afterwards"; else
        not_ok "$1: the link monitor saw nothing, not even the change made afterwards"; fi
}
# --- can0 as the driver left it ---------------------------------------------------------------
download_stdout "$small" 12 "Finger 2" >"$expected/fresh"
same_stdout fresh "$expected/fresh"
expect "fresh: status" "$(cat "$files/fresh.status")" 0
received_whole fresh "$small"
can0 fresh down "down 1000000"

# --- can0 at another bit rate -------------------------------------------------------------------
same_stdout rate500k "$expected/refused"
expect "rate500k: status" "$(cat "$files/rate500k.status")" 1
can0 rate500k "up 500000" "up 500000"
same_timing rate500k
untouched rate500k
expect "rate500k: frames the node saw" "$(frames_seen rate500k)" 0

# --- can0 up at 1 Mbit/s, and a second run during the download -----------------------------------
same_stdout up1m "$expected/download"
expect "up1m: status" "$(cat "$files/up1m.status")" 0
received_whole up1m "$image_200"
can0 up1m "up 1000000" "up 1000000"
same_timing up1m

same_stdout second "$expected/refused"
expect "second: status" "$(cat "$files/second.status")" 1
expect "second: ended while the first was downloading" \
    "$(awk '{ print ($1 < $2) ? "yes" : "no" }' <<<"$(cat "$files/second.ended") $(cat "$files/up1m.ended")")" yes
untouched second

# --- no interface is the hand's: no file, or one that does not count -----------------------------
for name in noconf conf-owner conf-mode conf-twice conf-notcan lock-none lock-open; do
    same_stdout "$name" "$expected/refused"
    expect "$name: status" "$(cat "$files/$name.status")" 1
    can0 "$name" "up 1000000" "up 1000000"
    same_timing "$name"
    untouched "$name"
    expect "$name: frames the node saw" "$(frames_seen "$name")" 0
done
# Where can1 was shown as a PEAK adapter, and where lo was named: neither was touched.
expect "can1's driver as the tool saw it in the runs with a file that does not count" \
    "$(cat "$files/peak-shown")" peak_usb
for name in conf-owner conf-mode conf-twice; do
    expect "$name: link changes of can1 (shown as a PEAK adapter) during the run" \
        "$(sed '/^@@after$/q' "$files/$name.monitor" | grep -c 'can1' || true)" 0
done
expect "conf-notcan: link changes of lo during the run" \
    "$(sed '/^@@after$/q' "$files/conf-notcan.monitor" | grep -c ': lo:' || true)" 0

# --- the environment changes nothing ----------------------------------------------------------
same_stdout nlcb "$expected/fresh"
expect "nlcb: status" "$(cat "$files/nlcb.status")" 0
can0 nlcb "up 1000000" "up 1000000"
same_timing nlcb
received_whole nlcb "$small"
empty_stderr nlcb

# --- a node that never answers --------------------------------------------------------------------
never_answers >"$expected/silent"
same_stdout silent "$expected/silent"
expect "silent: status" "$(cat "$files/silent.status")" 1
expect "silent: queries on the bus (the attempt budget)" "$(field silent queries)" 500
can0 silent "up 1000000" "up 1000000"
same_timing silent

# --- signals ------------------------------------------------------------------------------------
landed=()
for f in "$files"/sig*.signal "$files"/stuck-*.signal; do
    name=$(basename "$f" .signal)
    read -r signal phase <"$f"
    case $signal in SIGINT) want=130 ;; SIGTERM) want=143 ;; SIGUSR1) want=138 ;; SIGALRM) want=142 ;; esac
    when="in the $phase"
    [ "$phase" = held ] && when="while held with can0 down"
    expect "$name ($signal $when): ended by the signal" "$(cat "$files/$name.status")" "$want"
    if [ "$phase" = held ]; then
        sed '/^Closing CAN connection/q' "$expected/fresh" >"$expected/closed"
        same_stdout "$name" "$expected/closed"
        expect "$name: held in a write with can0 down after the final close" \
            "$(cat "$files/$name.held")" "pipe_write down 1000000"
    else
        cut_short "$name" "$expected/download"
    fi
    expect "$name: can0 ends as it began" "$(cat "$files/$name.can0")" "$(cat "$files/$name.before")"
    same_timing "$name"
    where="in the handshake"
    grep -q '^Starting download' "$files/$name.stdout" && where="in the download"
    [ "$phase" = held ] && where="after the final close"
    landed+=("$name $signal $where $(cut -d' ' -f2- "$files/$name.moment"), can0 $(cat "$files/$name.before")")
done

# --- the adapter unplugged ----------------------------------------------------------------------
for name in unplug-on unplug-off unplug-down; do
    ended_by_removal "$name" "$expected/download" "$unplug_bound"
    expect "$name: can0 afterwards" "$(cat "$files/$name.can0")" absent
done
grep -q '^Starting download' "$files/unplug-on.stdout" "$files/unplug-off.stdout" &&
    not_ok "a handshake removal came after the handshake"
# What reached the node before the removal is the image's beginning, its records intact.
payload="$(image_payload "$image_200")"
data="$(field unplug-down data)"
if [ -n "$data" ] && [ "${payload:0:${#data}}" = "$data" ]; then
    ok "unplug-down: the node received the image's first ${#data} characters in order"
else
    not_ok "unplug-down: the node received ${#data} characters that are not how the image begins"
fi
expect "unplug-down: records with a bad checksum" "$(field unplug-down records_bad)" 0

# --- standard error: never written to, on any of these roads ----------------------------------
all_stderr_empty

# --- measured ---------------------------------------------------------------------------------
echo "measure autogroups: sched_autogroup_enabled is $(cat "$files/autogroup") on this kernel"
echo "measure boot: /init reached the test script at $(cat "$files/boot.uptime") s of guest uptime"
echo "measure download: $(field up1m data_frames) characters in $(field up1m download_ms) ms: $(field up1m download_chars_per_s) characters/s; the whole run $(cat "$files/up1m.seconds") s"
echo "measure never-answering node: message 14 after $(cat "$files/silent.seconds") s"
for line in "${landed[@]}"; do echo "signal $line"; done
echo "measure qemu boot and all runs: ${wall} s"
finish
