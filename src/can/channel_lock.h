// Exclusive use of the adapter channel by one run at a time.
#pragma once

#include <string>

/// The lock as a probe sees it.
enum class ChannelLockState {
  kFree,      // nobody else holds it, and this process could take it
  kHeld,      // another process holds it
  kUnusable,  // the lock could not be taken by this process even with nobody holding it
  kUnknown,   // the system does not tell
};

/// Why a lock is kUnusable, or what stands in its place.
enum class ChannelLockObstacle {
  kNone,
  kNotPlainFile,        // something other than a plain file has the lock's name
  kUnopenable,          // a plain file this process may not open as the lock is opened
  kNoDirectory,         // the directory the lock belongs in is missing
  kUntrustedDirectory,  // the directory is not root's, or accounts outside the tool's group
                        // may write it (or its group may, without the sticky bit)
  kCannotCreate,        // the file is missing and this process may not create it there
  kUnreadableLock,      // the file exists but nothing could be learned of it
};

/// What a probe learnt. Owner and mode are those of what has the lock's name (meaningful when
/// |haveFile|); |holder| is the holding process when the system tells (kHeld), else 0.
struct ChannelLockProbe {
  ChannelLockState state = ChannelLockState::kUnknown;
  ChannelLockObstacle obstacle = ChannelLockObstacle::kNone;
  bool haveFile = false;
  unsigned owner = 0;
  unsigned mode = 0;  // st_mode: type and permission bits
  int error = 0;      // errno of the failed call, when one failed
  int holder = 0;
};

/// The directory of lock files that the Linux package makes: root's and the tool's group's,
/// so that nobody who may not run the tool can take or spoil a lock.
inline constexpr const char* kChannelLockDirectory = "/run/nodletflash";

/// The name of the lock for the channel this platform's adapter binding uses. On Linux: a file
/// named after the interface in |directory|; where that directory is missing, or may be written
/// by accounts that may not run the tool, the lock cannot be taken and the tool does not run.
/// On Windows: the name of a mutex for channel 0x51.
std::string channelLockName(const std::string& interfaceName,
                            const std::string& directory = kChannelLockDirectory);

/// Takes the lock |name| for the rest of the process, without waiting. False when another
/// process holds it or it cannot be made; the caller must then leave the channel alone. Taking
/// a lock this process already holds succeeds.
bool acquireChannelLock(const std::string& name);

/// Looks at the lock |name| as acquireChannelLock would take it; never takes it, never creates
/// it. A lock this process holds is kFree.
ChannelLockProbe probeChannelLock(const std::string& name);
