#include "app/image_errors.h"

#include <cstdio>

std::string describeImageError(const ImageLoad& load, const char* path) {
  const std::string name = path;
  switch (load.error) {
    case ImageError::kNone:
      break;
    case ImageError::kOpen:
      return "Error opening firmware file " + name + ".";
    case ImageError::kNotRegular:
      return "Firmware file " + name + " is not a regular file.";
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
    case ImageError::kBrokenLine: {
      char byte[8];
      std::snprintf(byte, sizeof(byte), "0x%02X", static_cast<unsigned>(load.byte));
      return "Firmware file " + name + ", line " + std::to_string(load.line) + ", column " +
             std::to_string(load.column) + ": the record is interrupted by byte " + byte +
             ", which cannot be sent.";
    }
  }
  return std::string();
}
