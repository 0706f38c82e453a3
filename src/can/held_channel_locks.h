// The channel locks this process holds, by name, so that taking one again succeeds.
#pragma once

#include <string>

/// Whether this process holds the lock |name|.
bool holdsChannelLock(const std::string& name);

/// Notes that this process now holds the lock |name| until it ends.
void noteChannelLockHeld(const std::string& name);
