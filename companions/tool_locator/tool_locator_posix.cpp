#include <sys/stat.h>
#include <unistd.h>

#include "tool_locator.h"

const char* toolFileName() {
  return "nodletflash";
}

const char* virtualHandFileName() {
  return "nodletflash-sim";
}

char pathListSeparator() {
  return ':';
}

std::string thisProgramPath() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) {
    return "";
  }
  return std::string(path, static_cast<size_t>(length));
}

bool isRunnableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}
