#!/bin/bash
# nodletflash-check in the vcan guest: copies the programs in under the names check-guest.sh
# uses and runs it; the guest script judges every case.
#
# Usage: check-test.sh OUTDIR CACHE CHECK NODLETFLASH HELPER IMAGE
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -eq 6 ] || { sed -n '2,6p' "${BASH_SOURCE[0]}" >&2; exit 2; }
outdir="$1" cache="$2"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$3" "$stage/nodletflash-check"
cp "$4" "$stage/nodletflash-static"
cp "$5" "$stage/check-guest-helper"
cp "$6" "$stage/firmware.hex"
chmod 0644 "$stage/firmware.hex"

exec bash "$here/../../tools/qemu-vcan/run.sh" --cache "$cache" --out "$outdir" --timeout 400 \
    "$here/check-guest.sh" "$stage/nodletflash-check" "$stage/nodletflash-static" \
    "$stage/check-guest-helper" "$stage/firmware.hex"
