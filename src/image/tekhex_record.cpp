#include "image/tekhex_record.h"

namespace {

constexpr int kTypeOffset = 2;
constexpr int kChecksumOffset = 3;

// Two hex digits at |text|, or -1.
int hexByte(const char* text) {
  int high = tekhexHexValue(text[0]);
  int low = tekhexHexValue(text[1]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

TekhexRecord faulted(TekhexRecord record, TekhexFault fault, int offset) {
  record.fault = fault;
  record.faultOffset = offset;
  return record;
}

// The address-length digit, the address and, for data records, the data.
TekhexRecord parseAddressAndData(TekhexRecord record, const char* text, int length) {
  if (length <= kTekhexAddressLengthOffset) {
    return faulted(record, TekhexFault::kAddressLength, length);
  }
  int digits = tekhexHexValue(text[kTekhexAddressLengthOffset]);
  if (digits < 0) {
    return faulted(record, TekhexFault::kAddressLength, kTekhexAddressLengthOffset);
  }
  record.addressDigits = digits == 0 ? 16 : digits;
  int at = kTekhexAddressLengthOffset + 1;
  for (int i = 0; i < record.addressDigits; ++i, ++at) {
    int value = at < length ? tekhexHexValue(text[at]) : -1;
    if (value < 0) {
      return faulted(record, TekhexFault::kAddressDigits, at);
    }
    record.address = record.address << 4 | static_cast<uint64_t>(value);
  }
  record.dataOffset = at;
  if (record.type == kTekhexTermination) {
    return at < length ? faulted(record, TekhexFault::kTrailing, at) : record;
  }
  for (; at < length; ++at) {
    if (tekhexHexValue(text[at]) < 0) {
      return faulted(record, TekhexFault::kDataDigits, at);
    }
  }
  record.dataDigits = length - record.dataOffset;
  if (record.dataDigits % 2 != 0) {
    return faulted(record, TekhexFault::kOddData, length - 1);
  }
  return record;
}

}  // namespace

int tekhexCharValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'Z') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 40;
  }
  switch (c) {
    case '$':
      return 36;
    case '%':
      return 37;
    case '.':
      return 38;
    case '_':
      return 39;
    default:
      return -1;
  }
}

int tekhexHexValue(char c) {
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

TekhexRecord parseTekhexRecord(const char* text, int length) {
  TekhexRecord record;
  if (length < kTekhexHeaderLength) {
    return faulted(record, TekhexFault::kTooShort, length);
  }
  int sum = 0;
  for (int i = 0; i < length; ++i) {
    int value = tekhexCharValue(text[i]);
    if (value < 0) {
      return faulted(record, TekhexFault::kBadCharacter, i);
    }
    if (i != kChecksumOffset && i != kChecksumOffset + 1) {
      sum += value;
    }
  }
  record.computedChecksum = sum % 256;
  record.blockLength = hexByte(text);
  if (record.blockLength < 0) {
    return faulted(record, TekhexFault::kLengthDigits, tekhexHexValue(text[0]) < 0 ? 0 : 1);
  }
  if (record.blockLength != length) {
    return faulted(record, TekhexFault::kLengthMismatch, 0);
  }
  record.type = tekhexHexValue(text[kTypeOffset]);
  if (record.type != kTekhexData && record.type != kTekhexTermination &&
      record.type != kTekhexSymbol) {
    return faulted(record, TekhexFault::kUnknownType, kTypeOffset);
  }
  record.statedChecksum = hexByte(text + kChecksumOffset);
  if (record.statedChecksum < 0) {
    int offset = tekhexHexValue(text[kChecksumOffset]) < 0 ? 0 : 1;
    return faulted(record, TekhexFault::kChecksumDigits, kChecksumOffset + offset);
  }
  if (record.type != kTekhexSymbol) {
    record = parseAddressAndData(record, text, length);
    if (record.fault != TekhexFault::kNone) {
      return record;
    }
  }
  if (record.statedChecksum != record.computedChecksum) {
    return faulted(record, TekhexFault::kChecksumMismatch, kChecksumOffset);
  }
  return record;
}

const char* tekhexFaultName(TekhexFault fault) {
  switch (fault) {
    case TekhexFault::kNone:
      return "no fault";
    case TekhexFault::kTooShort:
      return "record too short";
    case TekhexFault::kBadCharacter:
      return "character outside the format's set";
    case TekhexFault::kLengthDigits:
      return "block length is not two hex digits";
    case TekhexFault::kLengthMismatch:
      return "block length differs from the record's length";
    case TekhexFault::kUnknownType:
      return "unknown block type";
    case TekhexFault::kChecksumDigits:
      return "checksum is not two hex digits";
    case TekhexFault::kAddressLength:
      return "address length is not a hex digit";
    case TekhexFault::kAddressDigits:
      return "address digits missing or not hex";
    case TekhexFault::kDataDigits:
      return "data character is not a hex digit";
    case TekhexFault::kOddData:
      return "odd number of data digits";
    case TekhexFault::kTrailing:
      return "characters after the termination record's address";
    case TekhexFault::kChecksumMismatch:
      return "checksum mismatch";
  }
  return "unknown fault";
}
