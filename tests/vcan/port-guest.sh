#!/bin/sh
# Guest side of the port check: the binding on can0 found up, then on can0 found down. A run
# must leave the interface as it found it.
status=0
# can0 here is no PEAK adapter: the binding takes it only when the configuration names it.
printf 'interface = can0\n' >/etc/nodletflash.conf
# Nor does it take a lock, and so open, without its lock directory.
mkdir -p /run/nodletflash
is_up() { ip link show can0 | head -n1 | grep -q '[<,]UP[,>]'; }

./vcan-port-check --measure || status=1
if is_up; then
    echo "ok - can0 is up after a run that found it up"
else
    echo "not ok - can0 is down after a run that found it up"
    status=1
fi

ip link set can0 down
./vcan-port-check || status=1
if is_up; then
    echo "not ok - can0 is up after a run that found it down"
    status=1
else
    echo "ok - can0 is down after a run that found it down"
fi
exit $status
