# Helpers of the nodletflash-check guest scripts; sourced from /vcan. A case NAME leaves the
# check's output in $VCAN_OUT/NAME.out; failed expectations set status to 1.
status=0
# name_can0: names can0 in the tool's configuration file, as an administrator would.
name_can0() {
    printf '# the hand'"'"'s adapter\ninterface = can0\n' >/etc/nodletflash.conf
    chmod 0644 /etc/nodletflash.conf
}
# lock_directory: the tool's lock directory as root's alone (setup_accounts gives it to the
# package's group); the tool takes no lock, and so does not run, without it.
lock_directory() {
    mkdir -p /run/nodletflash
    chown 0:0 /run/nodletflash
    chmod 0755 /run/nodletflash
}
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


# run_as NAME HOW ARGS...: runs the check through the helper (HOW: as-user UID, as-member UID GID
# or as-member-nnp UID GID), keeping its output as run does.
run_as() {
    name=$1
    shift
    case $1 in
        as-user) how="$1 $2"; shift 2 ;;
        *) how="$1 $2 $3"; shift 3 ;;
    esac
    ./check-guest-helper $how /vcan/nodletflash-check "$@" >"$VCAN_OUT/$name.out" 2>"$VCAN_OUT/$name.err"
    code=$?
    echo "--- $name (status $code)"
    cat "$VCAN_OUT/$name.out"
}

# tool_refused NAME HOW TOOL: the tool itself, run as the check was, stops at the adapter message
# with status 1 and nothing on standard error: what the check's problem foretold.
tool_refused() {
    ./check-guest-helper $2 "$3" 12 /vcan/firmware.hex >"$VCAN_OUT/$1.tool.out" 2>"$VCAN_OUT/$1.tool.err" </dev/null
    tcode=$?
    if [ "$tcode" = 1 ] && grep -q '^ERRORError initializing CAN- ' "$VCAN_OUT/$1.tool.out" &&
        [ ! -s "$VCAN_OUT/$1.tool.err" ]; then
        pass "$1: the tool stops at the adapter message"
    else
        fail "$1: the tool: status $tcode: $(cat "$VCAN_OUT/$1.tool.out" "$VCAN_OUT/$1.tool.err")"
    fi
}

# The accounts of the cases below, the package's group and lock directory, and the tool installed
# as the package installs it: root:nodletflash 0750 with its capabilities, on a file system
# mounted without nosuid and on one mounted with it.
alice=1001
mallory=1002
bob=1003
group=900
member_of() { echo "as-member $1 $group"; }
setup_accounts() {
    [ -e /etc/passwd ] || echo 'root:x:0:0:root:/root:/bin/sh' >/etc/passwd
    printf 'alice:x:%d:%d::/tmp:/bin/sh\nmallory:x:%d:%d::/tmp:/bin/sh\nbob:x:%d:%d::/tmp:/bin/sh\n' \
        $alice $alice $mallory $mallory $bob $bob >>/etc/passwd
    printf 'nodletflash:x:%d:alice,mallory\n' $group >>/etc/group
    mkdir -p /run/nodletflash
    chown 0:$group /run/nodletflash
    chmod 3770 /run/nodletflash
    for fs in suid nosuid; do
        mkdir -p /mnt/$fs
        if [ $fs = nosuid ]; then mount -t tmpfs -o nosuid tmpfs /mnt/$fs; else mount -t tmpfs tmpfs /mnt/$fs; fi
        cp /vcan/nodletflash-static /mnt/$fs/nodletflash
        chown 0:$group /mnt/$fs/nodletflash
        chmod 0750 /mnt/$fs/nodletflash
        ./check-guest-helper give-caps /mnt/$fs/nodletflash || fail "give-caps on /mnt/$fs"
    done
}

# Who may run the tool, whether its capabilities act, and its lock as the tool will take it: each
# way the tool would fail is a problem, status 1, and the tool does fail so.
access_cases() {
    installed="--tool=/mnt/suid/nodletflash --listen-ms=300 12 firmware.hex"

    run_as member $(member_of $alice) $installed
    expect_status member 0
    has member '^ok privileges: the tool has cap_net_admin to control the interface$'
    has member '^ok lock: no other run holds can0 \(/run/nodletflash/can0.lock\)$'

    run_as stranger as-user $bob $installed
    expect_status stranger 1
    has stranger '^problem tool: /mnt/suid/nodletflash \(mode 0750, owner [a-z0-9 ]+, group nodletflash\) may be run only by root and the members of group nodletflash, and you \(bob\) are not a member\. An administrator adds you with: sudo adduser bob nodletflash; then log out and in again$'
    ./check-guest-helper as-user $bob /mnt/suid/nodletflash 12 /vcan/firmware.hex >/dev/null 2>&1
    tcode=$?
    if [ "$tcode" = 127 ]; then pass "stranger: the tool cannot be started"; else fail "stranger: the tool ran (status $tcode)"; fi

    run_as nosuid $(member_of $alice) --tool=/mnt/nosuid/nodletflash --listen-ms=300 12 firmware.hex
    expect_status nosuid 1
    has nosuid '^problem privileges: the tool.s file capabilities do not act: /mnt/nosuid/nodletflash is on a file system mounted nosuid'
    lacks nosuid '^ok privileges'
    tool_refused nosuid "$(member_of $alice)" /mnt/nosuid/nodletflash

    run_as nnp as-member-nnp $alice $group $installed
    expect_status nnp 1
    has nnp '^problem privileges: the tool.s file capabilities do not act: this session runs with no_new_privs'
    tool_refused nnp "as-member-nnp $alice $group" /mnt/suid/nodletflash

    # Another member leaves a lock file nobody else may open (the runs above left alice's).
    rm -f /run/nodletflash/can0.lock
    ./check-guest-helper $(member_of $mallory) /bin/sh -c 'umask 777; : >/run/nodletflash/can0.lock'
    run_as spoilt $(member_of $alice) $installed
    expect_status spoilt 1
    has spoilt '^problem lock: /run/nodletflash/can0.lock \(a plain file, mode 0000, owner mallory\) cannot be opened by you as the tool opens it \(Permission denied\)'
    tool_refused spoilt "$(member_of $alice)" /mnt/suid/nodletflash
    rm /run/nodletflash/can0.lock

    mkfifo -m 0644 /run/nodletflash/can0.lock
    run_as fifo $(member_of $alice) $installed
    expect_status fifo 1
    has fifo '^problem lock: /run/nodletflash/can0.lock is a FIFO, mode 0644, owner (root|uid 0), not a lock file'
    tool_refused fifo "$(member_of $alice)" /mnt/suid/nodletflash
    rm /run/nodletflash/can0.lock

    # A lock directory every account may write: a stranger could take the lock first, so the
    # tool takes none there.
    chmod 1777 /run/nodletflash
    run_as open-directory $(member_of $alice) $installed
    expect_status open-directory 1
    has open-directory '^problem lock: /run/nodletflash \(a directory, mode 1777, owner (root|uid 0)\) may be written by accounts that may not run the tool'
    tool_refused open-directory "$(member_of $alice)" /mnt/suid/nodletflash
    chmod 3770 /run/nodletflash

    # None at all: no lock, no run, whatever the account.
    mv /run/nodletflash /run/nodletflash.away
    run_as no-directory $(member_of $alice) $installed
    expect_status no-directory 1
    has no-directory '^problem lock: /run/nodletflash is missing: the tool takes its lock /run/nodletflash/can0.lock only there'
    tool_refused no-directory "$(member_of $alice)" /mnt/suid/nodletflash
    mv /run/nodletflash.away /run/nodletflash
}
