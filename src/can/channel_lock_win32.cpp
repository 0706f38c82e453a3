// The channel lock on Windows: a named mutex in the Global namespace, so that runs in other
// sessions see it too. The mutex exists while some process has a handle to it, and only a run
// that owns it keeps a handle; the system closes the handle, and so releases the mutex, when the
// process ends however it ends.
#include <windows.h>

#include <string>

#include "can/channel_lock.h"
#include "can/held_channel_locks.h"

std::string channelLockName(const std::string& /*interfaceName*/,
                            const std::string& /*directory*/) {
  // The binding always uses channel 0x51 (kCanChannel).
  return "Global\\nodletflash-channel-0x51";
}

bool acquireChannelLock(const std::string& name) {
  if (holdsChannelLock(name)) {
    return true;
  }
  // Fails with ERROR_ACCESS_DENIED when a run of another user holds the mutex.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    return false;
  }
  // WAIT_ABANDONED: a holder ended without releasing it; the mutex is ours now all the same.
  DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return false;
  }
  // The handle is deliberately kept open: it holds the mutex until the process ends.
  noteChannelLockHeld(name);
  return true;
}

ChannelLockProbe probeChannelLock(const std::string& name) {
  ChannelLockProbe probe;
  if (holdsChannelLock(name)) {
    probe.state = ChannelLockState::kFree;
    return probe;
  }
  // Opening never creates the mutex. It exists only while a run holds it.
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  if (mutex != nullptr) {
    CloseHandle(mutex);
    probe.state = ChannelLockState::kHeld;
    return probe;
  }
  DWORD error = GetLastError();
  probe.error = static_cast<int>(error);
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      probe.state = ChannelLockState::kFree;
      break;
    case ERROR_ACCESS_DENIED:
      probe.state = ChannelLockState::kHeld;
      break;
    default:
      probe.state = ChannelLockState::kUnknown;
      break;
  }
  return probe;
}
