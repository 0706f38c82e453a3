# Helpers of the nodletflash-check guest scripts; sourced from /vcan. A case NAME leaves the
# check's output in $VCAN_OUT/NAME.out; failed expectations set status to 1.
status=0
pass() { echo "ok - $*"; }
fail() { echo "not ok - $*"; status=1; }

# run NAME [--as-nobody] ARGS...: runs the check, keeping its output in $VCAN_OUT/NAME.out.
run() {
    name=$1
    shift
    if [ "$1" = --as-nobody ]; then
        shift
        ./check-guest-helper as-user 65534 /vcan/nodletflash-check "$@" >"$VCAN_OUT/$name.out" 2>"$VCAN_OUT/$name.err"
    else
        ./nodletflash-check "$@" >"$VCAN_OUT/$name.out" 2>"$VCAN_OUT/$name.err"
    fi
    code=$?
    echo "--- $name (status $code)"
    cat "$VCAN_OUT/$name.out"
}
# expect NAME STATUS: the status, and nothing on standard error.
expect_status() {
    if [ "$code" = "$2" ]; then pass "$1: status $2"; else fail "$1: status $code, want $2"; fi
    if [ -s "$VCAN_OUT/$1.err" ]; then fail "$1: standard error is not empty"; fi
}
# has NAME PATTERN: a line of the output matches the extended regular expression.
has() {
    if grep -Eq "$2" "$VCAN_OUT/$1.out"; then pass "$1: $2"; else fail "$1: no line matches $2"; fi
}
# lacks NAME PATTERN: no line matches.
lacks() {
    if grep -Eq "$2" "$VCAN_OUT/$1.out"; then fail "$1: a line matches $2"; else pass "$1: nothing matches $2"; fi
}

