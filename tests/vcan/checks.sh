# Checks shared by the host sides of the guest tests; sourced. Before use, set $files to the
# directory the guest's /out came back in. Each check prints "ok - ..." or "not ok - ..." and
# counts failures in $failures; finish() ends the script with the verdict.
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
empty_stderr() {  # empty_stderr NAME
    if [ -f "$files/$1.stderr" ] && [ ! -s "$files/$1.stderr" ]; then
        ok "$1: nothing on standard error"
    else
        not_ok "$1: standard error: $(head -c 300 "$files/$1.stderr" 2>/dev/null | tr '\n' '|')"
    fi
}
# all_stderr_empty: every run left nothing on standard error.
all_stderr_empty() {
    local file
    for file in "$files"/*.stderr; do
        empty_stderr "$(basename "$file" .stderr)"
    done
}
# prefix_of NAME FILE DROP: run NAME's stdout, less its last DROP lines, is how FILE begins.
prefix_of() {
    local head_file
    head_file="$(mktemp)"
    head -n "-$3" "$files/$1.stdout" >"$head_file"
    if head -c "$(stat -c %s "$head_file")" "$2" | cmp -s - "$head_file"; then
        ok "$1: the lines before the end are the run's own, byte for byte"
    else
        not_ok "$1: the lines before the end are not those of a run"
        head -n 8 "$head_file"
    fi
    rm -f "$head_file"
}
# cut_short NAME FILE: run NAME's stdout is how FILE begins, without a closing line.
cut_short() {
    prefix_of "$1" "$2" 0
    if grep -q '^Program ended' "$files/$1.stdout"; then
        not_ok "$1: a closing line after the signal"
    else
        ok "$1: no closing line"
    fi
}
# ended_by_removal NAME EXPECTED_FILE BOUND_S: run NAME, whose adapter was removed at the uptime
# in NAME.moment, printed how EXPECTED_FILE begins, then one ERROR line and the closing line,
# with status 1, no more than BOUND_S seconds after the removal.
ended_by_removal() {
    local errors after
    expect "$1: status" "$(cat "$files/$1.status")" 1
    expect "$1: the closing line" "$(tail -n 1 "$files/$1.stdout")" "Program ended unsuccessfully."
    errors=$(grep -c '^ERROR' "$files/$1.stdout" || true)
    expect "$1: ERROR lines" "$errors" 1
    expect "$1: the ERROR line comes last before the closing line" \
        "$(tail -n 2 "$files/$1.stdout" | head -n 1 | cut -c1-5)" ERROR
    prefix_of "$1" "$2" 2
    after=$(awk '{ printf "%.2f", $2 - $1 }' <<<"$(cut -d' ' -f1 "$files/$1.moment") $(cat "$files/$1.ended")")
    if awk -v t="$after" -v b="$3" 'BEGIN { exit !(t <= b) }'; then
        ok "$1: ended $after s after the removal (bound $3 s)"
    else
        not_ok "$1: ended $after s after the removal, beyond $3 s"
    fi
    echo "measure $1: $(tail -n 2 "$files/$1.stdout" | head -n 1 | cut -c1-60)... $after s after the removal"
}
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures checks failed"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# The tool's messages before and after the stages.
opening_lines() {
    printf 'Loading firmware file...\nInitializing CAN connection...\n'
    printf 'USERMESSAGETo prevent errors, please close non-essential programs on your computer.\n'
    printf 'USERMESSAGEPlease power off the hand, wait 5 seconds, then power the hand back on.\n'
}
refused_adapter() {
    printf 'Loading firmware file...\nInitializing CAN connection...\nERRORError initializing CAN- ensure adapter is properly connected and PEAK CAN drivers are installed.\nProgram ended unsuccessfully.\n'
}
never_answers() {
    opening_lines
    printf 'ERRORTimeout occured while attempting to connect to nodlet. Please ensure that your hand is connected and powered on. If your hand is powered on, please try again and power your hand on earlier in the process.\n'
    printf 'Program ended unsuccessfully.\n'
}

# download_stdout IMAGE NODE NAME: the whole stdout of a successful download of IMAGE (as typed)
# to NODE, whose name is NAME. Progress: a line prints when the whole percentage 100k/L changes;
# its value is k*100/L in double precision rounded to single precision (nearest, ties to even),
# printed with %f.
download_stdout() {
    local lines=$(($(tr -cd '\n' <"$1" | wc -c) + 1))
    opening_lines
    printf 'Starting download of firmware %s to %s (nodlet %d)...\n' "$(basename "$1")" "$3" "$2"
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
}

# Every payload character of IMAGE, in order: each line without its record mark, up to CR.
image_payload() { sed 's/^.//; s/\r$//' "$1" | tr -d '\n'; }

# received_whole NAME IMAGE: the node of run NAME received IMAGE's payload exactly, in one
# download, with every record's checksum good.
received_whole() {
    local payload records data
    payload="$(image_payload "$2")"
    records=$(grep -c . "$2")
    data="$(field "$1" data)"
    if [ "$data" = "$payload" ]; then
        ok "$1: the node received every payload character in order (${#payload})"
    else
        not_ok "$1: the node received ${#data} characters, not the image's ${#payload} in order"
    fi
    expect "$1: data frames on the bus" "$(field "$1" data_frames)" "${#payload}"
    expect "$1: records with a good checksum" "$(field "$1" records_ok)" "$records"
    expect "$1: records with a bad checksum" "$(field "$1" records_bad)" 0
    expect "$1: record characters left over" "$(field "$1" record_chars_pending)" 0
    expect "$1: reset frames" "$(field "$1" resets)" 1
    expect "$1: start frames" "$(field "$1" starts)" 1
    expect "$1: the hand went off once" "$(field "$1" power_offs)" 1
    expect "$1: the hand's exit status" "$(cat "$files/$1.hand-status")" 0
}
