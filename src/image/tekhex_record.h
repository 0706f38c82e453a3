// One Extended Tektronix Hex record: its fields and what is wrong with it, if anything.
#pragma once

#include <cstdint>

/// The record types this system knows.
constexpr int kTekhexData = 6;
constexpr int kTekhexTermination = 8;
constexpr int kTekhexSymbol = 3;

/// Block length, type and checksum: the characters every record has after its "%" mark.
constexpr int kTekhexHeaderLength = 5;
/// Where a data or termination record's address-length digit stands, after the header; its
/// address digits follow it.
constexpr int kTekhexAddressLengthOffset = 5;

/// What is wrong with a record. Checked in this order; the first fault found is the one named.
enum class TekhexFault {
  kNone,
  kTooShort,          // fewer characters than the header needs
  kBadCharacter,      // a character outside the format's set
  kLengthDigits,      // the block length is not two hex digits
  kLengthMismatch,    // the block length differs from the characters present
  kUnknownType,       // a type other than 3, 6 or 8
  kChecksumDigits,    // the checksum is not two hex digits
  kAddressLength,     // the address-length digit is missing or not a hex digit
  kAddressDigits,     // fewer address digits than announced, or one is not a hex digit
  kDataDigits,        // a data character that is not a hex digit
  kOddData,           // an odd number of data digits: half a byte
  kTrailing,          // characters after a termination record's address
  kChecksumMismatch,  // the checksum differs from the sum of the characters
};

/// A record as parsed from the characters after its "%" mark. Offsets count from the character
/// after the mark (0 is the first block-length digit).
struct TekhexRecord {
  TekhexFault fault = TekhexFault::kNone;
  int faultOffset = 0;  // where the fault was found
  int blockLength = 0;  // as stated
  int type = 0;
  int statedChecksum = 0;
  int computedChecksum = 0;  // the sum of the character values, modulo 256
  int addressDigits = 0;     // data and termination records
  uint64_t address = 0;
  int dataOffset = 0;  // where the data digits begin (data records)
  int dataDigits = 0;
};

/// The format's value of a character: 0-9 are 0-9, A-Z 10-35, "$" 36, "%" 37, "." 38, "_" 39,
/// a-z 40-65; -1 for any other character.
int tekhexCharValue(char c);

/// The value of a hex digit, either case; -1 when |c| is not one.
int tekhexHexValue(char c);

/// Parses the record held in |text|, |length| characters after its "%" mark (no line end).
TekhexRecord parseTekhexRecord(const char* text, int length);

/// A short description of a fault, e.g. "checksum mismatch".
const char* tekhexFaultName(TekhexFault fault);
