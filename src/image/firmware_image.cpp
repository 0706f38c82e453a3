#include "image/firmware_image.h"

#include <cstdlib>
#include <cstring>

#include "image/firmware_file.h"

namespace {

// Counts the lines up to the first NUL, and refuses files whose walk would silently lose data.
ImageLoad checkAndCount(FirmwareImage* image) {
  ImageLoad result;
  const char* bytes = image->bytes;
  if (std::memchr(bytes, '\0', static_cast<size_t>(image->size)) != nullptr) {
    result.error = ImageError::kNulByte;
    return result;
  }
  int lines = 1;
  for (const char* p = bytes; (p = std::strchr(p, '\n')) != nullptr; ++p) {
    ++lines;
  }
  image->lineCount = lines;

  LineCursor cursor(*image);
  ImageLine line;
  while (cursor.next(&line)) {
    for (const char* p = line.payload + line.payloadLength; p < line.end; ++p) {
      if (isPayloadChar(*p)) {
        const char* cut = line.payload + line.payloadLength;
        result.error = ImageError::kBrokenLine;
        result.line = line.number;
        result.column = static_cast<int>(cut - line.start) + 1;
        result.byte = static_cast<unsigned char>(*cut);
        return result;
      }
    }
  }
  return result;
}

ImageLoad fail(ImageError error, FirmwareImage* image) {
  releaseFirmwareImage(image);
  ImageLoad result;
  result.error = error;
  return result;
}

}  // namespace

bool imageSizeFits(int64_t size) {
  return size >= 0 && size <= INT32_MAX;
}

ImageLoad loadFirmwareImage(const char* path, FirmwareImage* image) {
  *image = FirmwareImage();
  int64_t size = 0;
  ImageError opened = openFirmwareFile(path, &image->file, &size);
  if (opened != ImageError::kNone) {
    return fail(opened, image);
  }
  if (!imageSizeFits(size)) {
    return fail(ImageError::kTooLarge, image);
  }
  image->size = static_cast<int32_t>(size);
  image->bytes = static_cast<char*>(std::malloc(static_cast<size_t>(image->size) + 1));
  if (image->bytes == nullptr) {
    return fail(ImageError::kMemory, image);
  }
  size_t got = std::fread(image->bytes, 1, static_cast<size_t>(image->size), image->file);
  if (got != static_cast<size_t>(image->size)) {
    return fail(ImageError::kRead, image);
  }
  image->bytes[image->size] = '\0';
  ImageLoad result = checkAndCount(image);
  if (result.error != ImageError::kNone) {
    releaseFirmwareImage(image);
  }
  return result;
}

ImageLoad adoptFirmwareBytes(char* bytes, int32_t size, FirmwareImage* image) {
  *image = FirmwareImage();
  image->bytes = bytes;
  image->size = size;
  return checkAndCount(image);
}

void releaseFirmwareImage(FirmwareImage* image) {
  if (image->file != nullptr) {
    std::fclose(image->file);
  }
  std::free(image->bytes);
  *image = FirmwareImage();
}

LineCursor::LineCursor(FirmwareImage& image) : next_start_(image.bytes) {}

LineCursor::~LineCursor() {
  restoreNewline();
}

void LineCursor::restoreNewline() {
  if (restore_ != nullptr) {
    *restore_ = '\n';
    restore_ = nullptr;
  }
}

bool LineCursor::next(ImageLine* line) {
  restoreNewline();
  if (done_) {
    return false;
  }
  char* start = next_start_;
  char* end = std::strchr(start, '\n');
  if (end != nullptr) {
    *end = '\0';
    restore_ = end;
    next_start_ = end + 1;
  } else {
    end = start + std::strlen(start);
    done_ = true;
  }
  line->number = ++number_;
  line->start = start;
  line->end = end;
  line->payload = start == end ? end : start + 1;
  const char* p = line->payload;
  while (isPayloadChar(*p)) {
    ++p;
  }
  line->payloadLength = static_cast<int>(p - line->payload);
  return true;
}
