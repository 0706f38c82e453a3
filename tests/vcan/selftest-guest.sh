#!/bin/sh
# Guest side of the vcan self-test: runs in /vcan with can0 up as a vcan interface.
set -e
ip link show can0
./vcan-selftest
