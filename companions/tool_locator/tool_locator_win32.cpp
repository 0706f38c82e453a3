#include <windows.h>

#include "tool_locator.h"

const char* toolFileName() {
  return "nodletflash.exe";
}

const char* virtualHandFileName() {
  return "nodletflash-sim.exe";
}

char pathListSeparator() {
  return ';';
}

std::string thisProgramPath() {
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) {
    return "";
  }
  return std::string(path, length);
}

bool isRunnableFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
