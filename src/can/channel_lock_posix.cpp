// The channel lock on Linux: flock() on a file named after the interface in the package's lock
// directory, or, where that directory is missing, a socket bound to a name in the kernel's
// abstract namespace.
//
// The directory belongs to root and the tool's group (mode 3770), so only those who may run the
// tool can make, lock or spoil a file in it, and its sticky bit keeps a member from removing or
// replacing a lock file another member's run made (and may hold). A lock file is created readable
// by all, so that a run of another member can open it and lock it; flock() needs no write access.
// It is never removed: removing a lock file while another process opens it would let two processes
// lock two different files of the same name.
//
// The abstract name needs no file system at all (a minimal initramfs or a container may have no
// /run/lock), cannot be left behind, and belongs to one network namespace, as the interface
// names do. Either lock goes with the process: the kernel drops it when the descriptor closes at
// exit, however the process ends.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

bool isAbstract(const std::string& name) {
  return !name.empty() && name[0] == '@';
}

// Opens the lock file, creating it if it is missing. An existing file is opened without
// O_CREAT: in a sticky directory the kernel may refuse O_CREAT on another user's file.
int openLockFile(const std::string& name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = open(name.c_str(), kLockOpenFlags);
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

bool acquireFileLock(const std::string& name) {
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
  return true;
}

// The address of an abstract name: a NUL, then the name without its '@', no terminating NUL.
socklen_t abstractAddress(const std::string& name, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  size_t length = name.size() - 1;
  if (length + 1 > sizeof(address->sun_path)) {
    return 0;
  }
  std::memcpy(address->sun_path + 1, name.data() + 1, length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

bool acquireAbstractLock(const std::string& name) {
  sockaddr_un address;
  socklen_t length = abstractAddress(name, &address);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (length == 0 || fd < 0) {
    if (fd >= 0) {
      close(fd);
    }
    return false;
  }
  // EADDRINUSE: another process has bound the name.
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    close(fd);
    return false;
  }
  // Kept open, as the lock file is.
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

// The process that has a descriptor of the socket |inode|, among those this process may look
// into; 0 when none is seen.
int socketHolder(const std::string& inode) {
  const std::string link = "socket:[" + inode + "]";
  DIR* processes = opendir("/proc");
  if (processes == nullptr) {
    return 0;
  }
  int holder = 0;
  while (holder == 0) {
    dirent* process = readdir(processes);
    if (process == nullptr) {
      break;
    }
    int pid = processNumber(process->d_name);
    if (pid <= 0 || pid == getpid()) {
      continue;
    }
    std::string fdDirectory = std::string("/proc/") + process->d_name + "/fd";
    DIR* fds = opendir(fdDirectory.c_str());
    if (fds == nullptr) {
      continue;
    }
    for (dirent* fd = readdir(fds); fd != nullptr && holder == 0; fd = readdir(fds)) {
      char target[64];
      std::string path = fdDirectory + "/" + fd->d_name;
      ssize_t got = readlink(path.c_str(), target, sizeof(target) - 1);
      if (got > 0 && link.compare(0, std::string::npos, target, static_cast<size_t>(got)) == 0) {
        holder = pid;
      }
    }
    closedir(fds);
  }
  closedir(processes);
  return holder;
}

ChannelLockProbe probeAbstractLock(const std::string& name) {
  ChannelLockProbe probe;
  // Every bound socket is listed in /proc/net/unix as
  //   Num: RefCount Protocol Flags Type St Inode Path
  // with an abstract name written as '@' and the name.
  std::ifstream sockets("/proc/net/unix");
  if (!sockets) {
    probe.error = errno;
    return probe;
  }
  std::string line;
  while (std::getline(sockets, line)) {
    std::vector<std::string> words = wordsOf(line);
    if (words.size() >= 8 && words[7] == name) {
      probe.state = ChannelLockState::kHeld;
      probe.holder = socketHolder(words[6]);
      return probe;
    }
  }
  probe.state = ChannelLockState::kFree;
  return probe;
}

std::string parentOf(const std::string& name) {
  size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : name.substr(0, slash);
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
  struct stat status {};
  if (lstat(name.c_str(), &status) != 0) {
    probe.error = errno;
    if (errno != ENOENT) {
      probe.obstacle = ChannelLockObstacle::kUnreadableLock;
      return probe;
    }
    // The tool would create it: it needs to write and search the directory.
    struct stat directory {};
    std::string parent = parentOf(name);
    if (stat(parent.c_str(), &directory) != 0 || !S_ISDIR(directory.st_mode)) {
      probe.state = ChannelLockState::kUnusable;
      probe.obstacle = ChannelLockObstacle::kNoDirectory;
      return probe;
    }
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
  struct stat status {};
  if (stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return directory + "/" + interfaceName + ".lock";
  }
  return "@nodletflash-" + interfaceName;
}

bool acquireChannelLock(const std::string& name) {
  if (holdsChannelLock(name)) {
    return true;
  }
  if (!(isAbstract(name) ? acquireAbstractLock(name) : acquireFileLock(name))) {
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
  return isAbstract(name) ? probeAbstractLock(name) : probeFileLock(name);
}
