// Feeds arbitrary files to the image load and walks every accepted one, checking that the walk
// stays inside the buffer, hands out only sendable characters, yields exactly lineCount lines and
// leaves the buffer as it found it; and that a refused file really is one the walk would corrupt.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/firmware_image.h"

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Whether a line's bytes [start, end) would be cut short by the walk: a character that cannot be
// sent stands before one that can, after the record mark.
bool lineIsBroken(const char* start, const char* end) {
  const char* p = start + 1;
  while (p < end && isPayloadChar(*p)) {
    ++p;
  }
  for (; p < end; ++p) {
    if (isPayloadChar(*p)) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly size + 1 bytes, so that AddressSanitizer sees any read past the closing NUL.
  std::vector<char> buffer(data, data + size);
  buffer.push_back('\0');
  std::vector<char> original = buffer;

  FirmwareImage image;
  ImageLoad load = adoptFirmwareBytes(buffer.data(), static_cast<int32_t>(size), &image);
  check(buffer == original);

  bool hasNul = std::memchr(data, 0, size) != nullptr;
  int newlines = 0;
  int firstBroken = 0;
  const char* lineStart = buffer.data();
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || buffer[i] == '\n') {
      if (firstBroken == 0 && lineIsBroken(lineStart, buffer.data() + i)) {
        firstBroken = newlines + 1;
      }
      lineStart = buffer.data() + i + 1;
      newlines += i < size;
    }
  }

  if (hasNul) {
    check(load.error == ImageError::kNulByte);
    return 0;
  }
  if (firstBroken != 0) {
    check(load.error == ImageError::kBrokenLine && load.line == firstBroken);
    return 0;
  }
  check(load.error == ImageError::kNone);
  check(image.lineCount == newlines + 1);

  int lines = 0;
  long sent = 0;
  {
    LineCursor cursor(image);
    ImageLine line;
    while (cursor.next(&line)) {
      check(line.number == ++lines);
      check(line.start >= buffer.data() && line.end <= buffer.data() + size);
      check(line.payload >= line.start && line.payload + line.payloadLength <= line.end);
      for (int i = 0; i < line.payloadLength; ++i) {
        unsigned char c = static_cast<unsigned char>(line.payload[i]);
        check(c >= 0x30 && c <= 0x7F);
      }
      sent += line.payloadLength;
    }
  }
  check(lines == image.lineCount);
  check(sent <= static_cast<long>(size));
  check(buffer == original);
  return 0;
}
