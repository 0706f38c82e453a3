// Exclusive use of the adapter channel by one run at a time.
#pragma once

#include <string>

/// Whether another process holds a channel's lock, as seen without taking it.
enum class ChannelLockState { kFree, kHeld, kUnknown };

/// The name of the lock for the channel this platform's adapter binding uses: on Linux the path
/// of a file under /run/lock named after the interface, on Windows the name of a mutex for
/// channel 0x51.
std::string channelLockName(const std::string& interfaceName);

/// Takes the lock |name| for the rest of the process, without waiting. False when another
/// process holds it or it cannot be made; the caller must then leave the channel alone. Taking
/// a lock this process already holds succeeds.
bool acquireChannelLock(const std::string& name);

/// Looks whether another process holds the lock |name|; never takes it, never creates it.
ChannelLockState probeChannelLock(const std::string& name);
