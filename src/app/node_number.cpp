#include "app/node_number.h"

#include <climits>

bool parseNodeNumber(const char* text, int* node) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
    ++p;
  }
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulate as a negative number so that INT_MIN fits; refuse anything beyond an int.
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 - (*p - '0');
    if (value < INT_MIN) {
      return false;
    }
  }
  if (!negative) {
    value = -value;
    if (value > INT_MAX) {
      return false;
    }
  }
  *node = static_cast<int>(value);
  return *node >= kFirstNodlet && *node <= kLastNodlet;
}
