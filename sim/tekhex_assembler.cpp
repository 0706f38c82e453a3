#include "tekhex_assembler.h"

namespace {

// Length, type and checksum: the shortest record there can be.
constexpr int kRecordHeader = 5;

int hexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

}  // namespace

void TekhexAssembler::add(char c) {
  record_[filled_++] = c;
  if (filled_ == 2) {
    int high = hexValue(record_[0]);
    int low = hexValue(record_[1]);
    expected_ = high < 0 || low < 0 ? 0 : high * 16 + low;
    if (expected_ < kRecordHeader) {
      // No record is that short: the stream has lost its place. Count it and start afresh.
      ++records_bad_;
      filled_ = 0;
      expected_ = 0;
    }
    return;
  }
  if (expected_ != 0 && filled_ == expected_) {
    finishRecord();
  }
}

void TekhexAssembler::finishRecord() {
  int sum = 0;
  bool valid = true;
  for (int i = 0; i < filled_; ++i) {
    int value = hexValue(record_[i]);
    if (value < 0) {
      valid = false;
    } else if (i != 3 && i != 4) {
      sum += value;
    }
  }
  int high = hexValue(record_[3]);
  int low = hexValue(record_[4]);
  if (valid && high * 16 + low == sum % 256) {
    ++records_ok_;
  } else {
    ++records_bad_;
  }
  filled_ = 0;
  expected_ = 0;
}
