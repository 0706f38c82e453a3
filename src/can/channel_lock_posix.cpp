// The channel lock on Linux: flock() on a file under /run/lock named after the interface.
//
// The file is created readable by everyone, so that a run of another user can open it and lock
// it; flock() needs no write access. It is never removed: removing a lock file while another
// process opens it would let two processes lock two different files of the same name. The lock
// goes with the process: the kernel drops it when the descriptor closes at exit, however the
// process ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "can/channel_lock.h"
#include "can/held_channel_locks.h"

namespace {

constexpr mode_t kLockFileMode = 0644;

// Opens the lock file, creating it if it is missing. An existing file is opened without
// O_CREAT: in a sticky directory the kernel may refuse O_CREAT on another user's file.
int openLockFile(const std::string& name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd >= 0 || errno != ENOENT) {
      return fd;
    }
    fd = open(name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kLockFileMode);
    if (fd >= 0) {
      // The umask may have taken the others' read permission away.
      fchmod(fd, kLockFileMode);
      return fd;
    }
    if (errno != EEXIST) {
      return -1;
    }
  }
  return -1;
}

}  // namespace

std::string channelLockName(const std::string& interfaceName) {
  return "/run/lock/nodletflash-" + interfaceName + ".lock";
}

bool acquireChannelLock(const std::string& name) {
  if (holdsChannelLock(name)) {
    return true;
  }
  int fd = openLockFile(name);
  if (fd < 0) {
    return false;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  // The descriptor is deliberately kept open: it holds the lock until the process ends.
  noteChannelLockHeld(name);
  return true;
}

ChannelLockState probeChannelLock(const std::string& name) {
  struct stat status {};
  if (lstat(name.c_str(), &status) != 0) {
    return errno == ENOENT ? ChannelLockState::kFree : ChannelLockState::kUnknown;
  }
  // Every lock in the system is listed in /proc/locks as
  //   ID: FLOCK ADVISORY WRITE PID MAJOR:MINOR:INODE START END
  // with the device numbers in hex; a request still waiting has "->" after the ID and holds
  // nothing.
  std::ifstream locks("/proc/locks");
  if (!locks) {
    return ChannelLockState::kUnknown;
  }
  char device[64];
  std::snprintf(device, sizeof(device), "%02x:%02x:%llu", major(status.st_dev),
                minor(status.st_dev), static_cast<unsigned long long>(status.st_ino));
  const std::string self = std::to_string(getpid());
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) {
      words.push_back(word);
    }
    if (words.size() < 6 || words[1] != "FLOCK") {
      continue;
    }
    if (words[5] == device && words[4] != self) {
      return ChannelLockState::kHeld;
    }
  }
  return ChannelLockState::kFree;
}
