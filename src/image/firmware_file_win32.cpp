#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "image/firmware_file.h"

ImageError openFirmwareFile(const char* path, std::FILE** file, int64_t* size) {
  // A directory cannot be opened as a file at all; it is told apart first so that it gets its
  // own message rather than the one for a file that cannot be opened.
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ImageError::kNotRegular;
  }
  HANDLE handle =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return ImageError::kOpen;
  }
  // A console, a device such as NUL or COM1, or a pipe: reading one may wait for ever.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return ImageError::kNotRegular;
  }
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(handle, &length)) {
    CloseHandle(handle);
    return ImageError::kSize;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return ImageError::kOpen;
  }
  std::FILE* opened = _fdopen(fd, "rb");
  if (opened == nullptr) {
    _close(fd);
    return ImageError::kOpen;
  }
  *file = opened;
  *size = static_cast<int64_t>(length.QuadPart);
  return ImageError::kNone;
}
