#include "app/image_errors.h"

std::string describeImageError(const ImageLoad& load, const char* path) {
  const std::string name = path;
  switch (load.error) {
    case ImageError::kNone:
      break;
    case ImageError::kOpen:
      return "Error opening firmware file " + name + ".";
    case ImageError::kSize:
      return "Error finding the size of firmware file " + name + ".";
    case ImageError::kTooLarge:
      return "Firmware file " + name + " is too large (2 GiB or more).";
    case ImageError::kMemory:
      return "Not enough memory to load firmware file " + name + ".";
    case ImageError::kRead:
      return "Error reading firmware file " + name + ".";
    case ImageError::kNulByte:
      return "Firmware file " + name + " contains a NUL byte.";
    case ImageError::kBrokenLine:
      return "Firmware file " + name + ", line " + std::to_string(load.line) +
             ": the record is interrupted by a character that cannot be sent.";
  }
  return std::string();
}
