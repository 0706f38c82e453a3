#!/usr/bin/env bash
# The manual pages as built: each renders, with its NAME section, and man warns of nothing.
#
#   man_pages_test.sh PAGE...   (empty arguments, for programs absent from the build, are skipped)
set -uo pipefail

status=0
for page in "$@"; do
  [[ -n $page ]] || continue
  text=$(MANWIDTH=80 man --warnings -l "$page" 2>"$page.warnings")
  [[ -s $page.warnings ]] && { echo "FAIL: $page: $(cat "$page.warnings")"; status=1; }
  name=$(basename "$page" .1)
  grep -q "^ *$name - " <<<"$text" || { echo "FAIL: $page has no NAME line"; status=1; }
  rm -f "$page.warnings"
done
exit $status
