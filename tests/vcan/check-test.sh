#!/bin/bash
# nodletflash-check in the qemu guest: copies the programs in under the names the guest scripts
# use and runs them, on vcan and then on two emulated SJA1000 controllers; the guest scripts
# judge every case.
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

payload=("$here/check-guest-lib.sh" "$stage/nodletflash-check" "$stage/nodletflash-static"
         "$stage/check-guest-helper" "$stage/firmware.hex")
status=0
bash "$here/../../tools/qemu-vcan/run.sh" --cache "$cache" --out "$outdir/vcan" --timeout 400 \
    "$here/check-guest.sh" "${payload[@]}" || status=1
bash "$here/../../tools/qemu-vcan/run.sh" --sja1000 --cache "$cache" --out "$outdir/sja1000" \
    --timeout 400 "$here/check-sja1000-guest.sh" "${payload[@]}" || status=1
exit $status
