#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log_file.h"

std::FILE* createLogFile(const std::string& path, bool append, std::string* reason, bool* existed) {
  *existed = false;
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_EXCL);
  int fd = open(path.c_str(), flags, 0644);
  if (fd < 0) {
    *existed = errno == EEXIST;
    *reason = std::strerror(errno);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, append ? "a" : "w");
  if (file == nullptr) {
    *reason = std::strerror(errno);
    close(fd);
  }
  return file;
}
