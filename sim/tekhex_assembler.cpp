#include "tekhex_assembler.h"

#include "image/tekhex_record.h"

void TekhexAssembler::add(char c) {
  record_[filled_++] = c;
  if (filled_ == 2) {
    int high = tekhexHexValue(record_[0]);
    int low = tekhexHexValue(record_[1]);
    expected_ = high < 0 || low < 0 ? 0 : high * 16 + low;
    if (expected_ < kTekhexHeaderLength) {
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
  if (parseTekhexRecord(record_, filled_).fault == TekhexFault::kNone) {
    ++records_ok_;
  } else {
    ++records_bad_;
  }
  filled_ = 0;
  expected_ = 0;
}
