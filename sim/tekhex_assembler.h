// Reassembling Extended Tektronix Hex records from the characters a node receives.
#pragma once

/// Collects characters into records and checks each one whole, as the file check does: a record,
/// as it comes without its "%" mark, begins with two hex digits giving its length in characters
/// (counted from those two); see image/tekhex_record.h for the rest.
class TekhexAssembler {
 public:
  /// Takes the next character of the stream.
  void add(char c);

  int recordsOk() const { return records_ok_; }
  int recordsBad() const { return records_bad_; }
  /// Characters of a record not yet complete.
  int pendingChars() const { return filled_; }

 private:
  void finishRecord();

  static constexpr int kMaxRecord = 255;
  char record_[kMaxRecord];
  int filled_ = 0;
  int expected_ = 0;  // the record's length once its first two characters are in, else 0
  int records_ok_ = 0;
  int records_bad_ = 0;
};
