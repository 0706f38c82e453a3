#include "file_name.h"

#include <cstdio>

namespace {

bool isControl(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

std::string escape(char c) {
  switch (c) {
    case '\a':
      return "\\a";
    case '\b':
      return "\\b";
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\v':
      return "\\v";
    case '\f':
      return "\\f";
    case '\r':
      return "\\r";
    default:
      break;
  }
  char code[8];
  std::snprintf(code, sizeof(code), "\\x%02X",
                static_cast<unsigned>(static_cast<unsigned char>(c)));
  return code;
}

}  // namespace

bool hasControlCharacter(std::string_view text) {
  for (char c : text) {
    if (isControl(c)) {
      return true;
    }
  }
  return false;
}

std::string escapedText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    if (isControl(c)) {
      shown += escape(c);
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string fileNameProblem(std::string_view path) {
  for (char c : path) {
    if (isControl(c)) {
      return "the firmware file's name \"" + escapedText(path) + "\" holds a control character (" +
             escape(c) +
             "), which could pass for a line or a message of its own wherever the name is "
             "shown or printed; rename the file and give it again";
    }
  }
  return {};
}
