#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/firmware_file.h"

ImageError openFirmwareFile(const char* path, std::FILE** file, int64_t* size) {
  // Without O_NONBLOCK, opening a FIFO that has no writer waits for one for ever.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return ImageError::kOpen;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    close(fd);
    return ImageError::kSize;
  }
  if (!S_ISREG(status.st_mode)) {
    close(fd);
    return ImageError::kNotRegular;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return ImageError::kOpen;
  }
  std::FILE* opened = fdopen(fd, "rb");
  if (opened == nullptr) {
    close(fd);
    return ImageError::kOpen;
  }
  *file = opened;
  *size = static_cast<int64_t>(status.st_size);
  return ImageError::kNone;
}
