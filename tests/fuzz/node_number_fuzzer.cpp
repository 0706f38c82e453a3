// Checks the node-number conversion against a plain reading of the atoi rules for any text:
// accepted exactly when the value, read without overflow, is a node of the hand.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/node_number.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
    ++p;
  }
  bool negative = *p == '-';
  if (*p == '+' || *p == '-') {
    ++p;
  }
  while (*p == '0') {
    ++p;
  }
  std::string digits;
  while (*p >= '0' && *p <= '9') {
    digits += *p++;
  }
  bool expected = !negative && digits.size() == 2 && std::stoi(digits) >= kFirstNodlet &&
                  std::stoi(digits) <= kLastNodlet;

  int node = 0;
  bool accepted = parseNodeNumber(text.c_str(), &node);
  if (accepted != expected || (accepted && node != std::stoi(digits))) {
    std::abort();
  }
  return 0;
}
