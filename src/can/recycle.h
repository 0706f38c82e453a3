// Resetting the adapter's CAN controller by closing and reopening the channel.
#pragma once

#include "can/can_port.h"

class Sleeper;

/// How many times recycle() tries a close, and then an open, before it gives up; a failed try
/// is followed by a 1 ms pause, so the bound is a few seconds.
constexpr int kRecycleAttempts = 3000;

/// Closes the channel until a close succeeds, then opens it until an open succeeds. Returns
/// non-zero when either did not succeed within kRecycleAttempts tries.
CanStatus recycle(CanPort& port, Sleeper& sleeper);
