#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "record_file.h"

namespace {

std::string systemWords() {
  return std::strerror(errno);
}

// Creates |folder| and the folders above it that are missing, for this user alone.
bool makeFolders(const std::string& folder, std::string* why) {
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '/') {
      continue;
    }
    std::string part = folder.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      *why = part + ": " + systemWords();
      return false;
    }
  }
  return true;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// Writes |bytes| into |fd|, the new file |temporary|, and puts it in the place of |path| (in
// |folder|), both on the disk before it returns: rename replaces the name itself, so a symbolic
// link at |path| is replaced, never written through. |temporary| is removed when it fails.
bool replaceWith(int fd, const std::string& temporary, const std::string& path,
                 const std::string& folder, const std::string& bytes, std::string* why) {
  if (!writeAll(fd, bytes) || fsync(fd) != 0) {
    *why = temporary + ": " + systemWords();
    close(fd);
    unlink(temporary.c_str());
    return false;
  }
  close(fd);
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    *why = path + ": " + systemWords();
    unlink(temporary.c_str());
    return false;
  }
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

// The lock beside the record, held while the object lives.
class FileLock {
 public:
  FileLock(const std::string& path, std::string* why) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
      *why = path + ": " + systemWords();
      return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        *why = path + ": " + systemWords();
        close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) {
      close(fd_);  // and with it the lock
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

std::string stateFolder(std::string* why) {
  const char* state = std::getenv("XDG_STATE_HOME");
  // XDG_STATE_HOME counts only as an absolute path: a relative one is ignored.
  if (state != nullptr && state[0] == '/') {
    return std::string(state) + "/nodletflash/";
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    return std::string(home) + "/.local/state/nodletflash/";
  }
  *why = "neither XDG_STATE_HOME nor HOME names a folder";
  return "";
}

bool readRecordFile(const std::string& path, std::string* text, bool* missing, std::string* why) {
  *missing = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    *missing = errno == ENOENT;
    *why = systemWords();
    return false;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *why = "not a regular file";
    close(fd);
    return false;
  }
  text->clear();
  char buffer[8192];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      *why = systemWords();
      close(fd);
      return false;
    }
    if (got == 0) {
      break;
    }
    text->append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

bool updateRecordFile(const std::string& path,
                      const std::function<std::string(const std::string& current)>& update,
                      std::string* why) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  if (slash != std::string::npos && !makeFolders(folder, why)) {
    return false;
  }
  FileLock lock(path + ".lock", why);
  if (!lock.held()) {
    return false;
  }
  std::string current;
  bool missing = false;
  std::string unread;
  if (!readRecordFile(path, &current, &missing, &unread)) {
    current.clear();
  }
  std::string text = update(current);
  // Only the holder of the lock writes this name: a file left by one that died is replaced.
  std::string temporary = path + ".new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *why = temporary + ": " + systemWords();
    return false;
  }
  return replaceWith(fd, temporary, path, folder, text, why);
}

bool writeNewFile(const std::string& path, const std::string& bytes, std::string* why) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  // mkstemp makes the file anew (never through a link planted under its name), for this user.
  std::string temporary = path + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) {
    *why = path + ": " + systemWords();
    return false;
  }
  return replaceWith(fd, temporary, path, folder, bytes, why);
}
