// The channel lock on Linux: flock() on a file named after the interface in the package's lock
// directory, /run/nodletflash. Without that directory there is no lock, and the tool does not
// run.
//
// The directory belongs to root and the tool's group (mode 3770), so only those who may run the
// tool can make, lock or spoil a file in it, and its sticky bit keeps a member from removing or
// replacing a lock file another member's run made (and may hold). A directory that accounts
// outside the tool's group may write, or that root does not own, is not used. A lock file is
// created readable by all, so that a run of another member can open it and lock it; flock() needs
// no write access. It is never removed: removing a lock file while another process opens it
// would let two processes lock two different files of the same name. The kernel drops the lock
// when the descriptor closes at exit, however the process ends.
//
// Earlier releases fell back to a name in the kernel's abstract socket namespace where the
// directory was missing. Any account may bind such a name, so any account could stop every run
// by taking it first, and runs before and after the directory appeared took different locks. So
// the directory is now the only lock: one lock for every run, which only those who may run the
// tool can take.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "can/channel_lock.h"
#include "can/held_channel_locks.h"

namespace {

constexpr mode_t kLockFileMode = 0644;
// Opened for reading only, never following a link, never blocking on a FIFO.
constexpr int kLockOpenFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

std::string parentOf(const std::string& name) {
  size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : name.substr(0, slash);
}

std::string baseOf(const std::string& name) {
  size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Whether a directory described by |status| keeps the lock to those who may run the tool: root's
// (or, for tests, this user's), writable by no other account, and where its group may write,
// sticky, so that no member removes or replaces the lock file of another member's run.
bool trustedDirectory(const struct stat& status) {
  if (!S_ISDIR(status.st_mode)) {
    return false;
  }
  if (status.st_uid != 0 && status.st_uid != geteuid()) {
    return false;
  }
  if ((status.st_mode & S_IWOTH) != 0) {
    return false;
  }
  return (status.st_mode & S_IWGRP) == 0 || (status.st_mode & S_ISVTX) != 0;
}

// Opens the lock file |base| in the directory |directory|, creating it if it is missing. An
// existing file is opened without O_CREAT: in a sticky directory the kernel may refuse O_CREAT
// on another user's file.
int openLockFile(int directory, const std::string& base) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = openat(directory, base.c_str(), kLockOpenFlags);
    if (fd >= 0 || errno != ENOENT) {
      return fd;
    }
    fd = openat(directory, base.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                kLockFileMode);
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

bool acquireFileLock(const std::string& name) {
  // The directory is judged through the descriptor the file is opened in: what is judged is
  // where the lock is taken.
  int directory = open(parentOf(name).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (directory < 0) {
    return false;
  }
  struct stat where {};
  if (fstat(directory, &where) != 0 || !trustedDirectory(where)) {
    close(directory);
    return false;
  }
  int fd = openLockFile(directory, baseOf(name));
  close(directory);
  if (fd < 0) {
    return false;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  // The descriptor is deliberately kept open: it holds the lock until the process ends.
  return true;
}

// |text| as a process number; 0 when it is not one.
int processNumber(const char* text) {
  char* end = nullptr;
  long number = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && number > 0 && number <= INT32_MAX ? static_cast<int>(number)
                                                                          : 0;
}

std::vector<std::string> wordsOf(const std::string& line) {
  std::istringstream fields(line);
  std::vector<std::string> words;
  for (std::string word; fields >> word;) {
    words.push_back(word);
  }
  return words;
}

// The process that holds a flock() on the file |status| describes, other than this one; 0 when
// none does, -1 when /proc/locks cannot be read.
int fileLockHolder(const struct stat& status) {
  // Every lock in the system is listed in /proc/locks as
  //   ID: FLOCK ADVISORY WRITE PID MAJOR:MINOR:INODE START END
  // with the device numbers in hex; a request still waiting has "->" after the ID and holds
  // nothing.
  std::ifstream locks("/proc/locks");
  if (!locks) {
    return -1;
  }
  char device[64];
  std::snprintf(device, sizeof(device), "%02x:%02x:%llu", major(status.st_dev),
                minor(status.st_dev), static_cast<unsigned long long>(status.st_ino));
  const std::string self = std::to_string(getpid());
  std::string line;
  while (std::getline(locks, line)) {
    std::vector<std::string> words = wordsOf(line);
    if (words.size() < 6 || words[1] != "FLOCK") {
      continue;
    }
    if (words[5] == device && words[4] != self) {
      int pid = processNumber(words[4].c_str());
      return pid > 0 ? pid : 1;
    }
  }
  return 0;
}

ChannelLockProbe probeFileLock(const std::string& name) {
  ChannelLockProbe probe;
  // The directory first, as the tool judges it.
  struct stat directory {};
  std::string parent = parentOf(name);
  if (lstat(parent.c_str(), &directory) != 0 || !S_ISDIR(directory.st_mode)) {
    probe.error = errno;
    probe.state = ChannelLockState::kUnusable;
    probe.obstacle = ChannelLockObstacle::kNoDirectory;
    return probe;
  }
  if (!trustedDirectory(directory)) {
    probe.state = ChannelLockState::kUnusable;
    probe.obstacle = ChannelLockObstacle::kUntrustedDirectory;
    probe.haveFile = true;
    probe.owner = directory.st_uid;
    probe.mode = directory.st_mode;
    return probe;
  }
  struct stat status {};
  if (lstat(name.c_str(), &status) != 0) {
    probe.error = errno;
    if (errno != ENOENT) {
      probe.obstacle = ChannelLockObstacle::kUnreadableLock;
      return probe;
    }
    // The tool would create it: it needs to write and search the directory.
    if (access(parent.c_str(), W_OK | X_OK) != 0) {
      probe.error = errno;
      probe.state = ChannelLockState::kUnusable;
      probe.obstacle = ChannelLockObstacle::kCannotCreate;
      probe.haveFile = true;
      probe.owner = directory.st_uid;
      probe.mode = directory.st_mode;
      return probe;
    }
    probe.error = 0;
    probe.state = ChannelLockState::kFree;
    return probe;
  }
  probe.haveFile = true;
  probe.owner = status.st_uid;
  probe.mode = status.st_mode;
  if (!S_ISREG(status.st_mode)) {
    probe.state = ChannelLockState::kUnusable;
    probe.obstacle = ChannelLockObstacle::kNotPlainFile;
    return probe;
  }
  // Opened as the tool opens it; opening takes no lock.
  int fd = open(name.c_str(), kLockOpenFlags);
  if (fd < 0) {
    probe.error = errno;
    probe.state = ChannelLockState::kUnusable;
    probe.obstacle = ChannelLockObstacle::kUnopenable;
    return probe;
  }
  close(fd);
  int holder = fileLockHolder(status);
  if (holder < 0) {
    probe.obstacle = ChannelLockObstacle::kUnreadableLock;
    return probe;
  }
  probe.state = holder == 0 ? ChannelLockState::kFree : ChannelLockState::kHeld;
  probe.holder = holder;
  return probe;
}

}  // namespace

std::string channelLockName(const std::string& interfaceName, const std::string& directory) {
  return directory + "/" + interfaceName + ".lock";
}

bool acquireChannelLock(const std::string& name) {
  if (holdsChannelLock(name)) {
    return true;
  }
  if (!acquireFileLock(name)) {
    return false;
  }
  noteChannelLockHeld(name);
  return true;
}

ChannelLockProbe probeChannelLock(const std::string& name) {
  if (holdsChannelLock(name)) {
    ChannelLockProbe probe;
    probe.state = ChannelLockState::kFree;
    return probe;
  }
  return probeFileLock(name);
}
