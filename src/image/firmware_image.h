// The firmware file held in memory exactly as it lies on disk, and the walk over its lines.
#pragma once

#include <cstdint>
#include <cstdio>

/// The whole firmware file in one buffer of size + 1 bytes, the last one NUL. It is kept, with
/// its file open, until the process ends.
struct FirmwareImage {
  char* bytes = nullptr;
  int32_t size = 0;
  /// 1 plus the number of newline bytes in the file.
  int lineCount = 1;
  std::FILE* file = nullptr;
};

/// Why a firmware file was refused.
enum class ImageError {
  kNone,
  kOpen,        // the file cannot be opened
  kNotRegular,  // the path names a directory, a FIFO, a device: not a regular file
  kSize,        // its size cannot be found
  kTooLarge,    // 2 GiB or larger
  kMemory,      // no buffer for it
  kRead,        // it cannot be read whole
  kNulByte,     // it contains a NUL byte
  kBrokenLine   // a line's payload stops while sendable characters follow on that line
};

/// The outcome of a load. For kBrokenLine: the refused line, the column (counted in bytes from
/// 1, the record mark's) of the byte that ends its payload early, and that byte.
struct ImageLoad {
  ImageError error = ImageError::kNone;
  int line = 0;
  int column = 0;
  unsigned char byte = 0;
};

/// Whether a file of |size| bytes can be held: at most 2^31 - 1 bytes, the largest size a
/// signed 32-bit count holds.
bool imageSizeFits(int64_t size);

/// Reads the file whole, in binary mode, counts its lines and checks that every line's payload
/// runs to the line's end. On error |image| holds nothing.
ImageLoad loadFirmwareImage(const char* path, FirmwareImage* image);

/// Builds an image from bytes already in memory; |bytes| must hold |size| + 1 bytes, the last
/// one NUL, and stays owned by the caller. Checks as loadFirmwareImage does.
ImageLoad adoptFirmwareBytes(char* bytes, int32_t size, FirmwareImage* image);

/// Frees the buffer and closes the file. A run never does this: its image lives to the end.
void releaseFirmwareImage(FirmwareImage* image);

/// One line handed out by the walk, in place in the image's buffer: the line's number (from 1),
/// its start, its end (the NUL that stands in for its newline, or the buffer's end) and its
/// payload: the characters from index 1 that are sent to the node.
struct ImageLine {
  int number = 0;
  const char* start = nullptr;
  const char* end = nullptr;
  const char* payload = nullptr;
  int payloadLength = 0;
};

/// Walks an image's lines in order without copying. While a line is handed out its newline reads
/// as NUL, so the line is a C string; the newline is put back when the walk moves on or ends.
class LineCursor {
 public:
  explicit LineCursor(FirmwareImage& image);
  ~LineCursor();
  LineCursor(const LineCursor&) = delete;
  LineCursor& operator=(const LineCursor&) = delete;

  /// Hands out the next line; false after the last one.
  bool next(ImageLine* line);

 private:
  void restoreNewline();

  char* next_start_;
  char* restore_ = nullptr;
  int number_ = 0;
  bool done_ = false;
};

/// True for a character that may be sent to the node: 0x30 to 0x7F.
inline bool isPayloadChar(char c) {
  return static_cast<signed char>(c) >= 0x30;
}
