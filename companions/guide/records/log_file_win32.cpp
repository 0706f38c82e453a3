#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "log_file.h"

namespace {

std::string systemWords(DWORD error) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == '.' || text[length - 1] == ' ')) {
    --length;
  }
  return length > 0 ? std::string(text, length) : "error " + std::to_string(error);
}

}  // namespace

std::FILE* createLogFile(const std::string& path, bool append, std::string* reason, bool* existed) {
  *existed = false;
  // A handle made without inheritable security attributes is not passed to children.
  HANDLE handle =
      CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  append ? OPEN_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    *existed = error == ERROR_FILE_EXISTS;
    *reason = systemWords(error);
    return nullptr;
  }
  int fd =
      _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | (append ? _O_APPEND : 0));
  if (fd < 0) {
    *reason = systemWords(GetLastError());
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, append ? "a" : "w");
  if (file == nullptr) {
    *reason = "cannot open a stream on it";
    _close(fd);
  }
  return file;
}
