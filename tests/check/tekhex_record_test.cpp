#include "image/tekhex_record.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TekhexRecord parse(const std::string& text) {
  return parseTekhexRecord(text.data(), static_cast<int>(text.size()));
}

TEST(TekhexRecordTest, CharacterValuesFollowTheFormat) {
  EXPECT_EQ(tekhexCharValue('0'), 0);
  EXPECT_EQ(tekhexCharValue('9'), 9);
  EXPECT_EQ(tekhexCharValue('A'), 10);
  EXPECT_EQ(tekhexCharValue('Z'), 35);
  EXPECT_EQ(tekhexCharValue('$'), 36);
  EXPECT_EQ(tekhexCharValue('%'), 37);
  EXPECT_EQ(tekhexCharValue('.'), 38);
  EXPECT_EQ(tekhexCharValue('_'), 39);
  EXPECT_EQ(tekhexCharValue('a'), 40);
  EXPECT_EQ(tekhexCharValue('z'), 65);
  for (char c : {' ', '@', '[', '`', '{', '#', '\r'}) {
    EXPECT_EQ(tekhexCharValue(c), -1) << c;
  }
}

TEST(TekhexRecordTest, DataAndTerminationFields) {
  TekhexRecord data = parse("0E63141000AB12");
  ASSERT_EQ(data.fault, TekhexFault::kNone) << tekhexFaultName(data.fault);
  EXPECT_EQ(data.type, kTekhexData);
  EXPECT_EQ(data.addressDigits, 4);
  EXPECT_EQ(data.address, 0x1000u);
  EXPECT_EQ(data.dataOffset, 10);
  EXPECT_EQ(data.dataDigits, 4);
  // Address length 0 stands for 16 digits.
  TekhexRecord wide = parse("166850FEDCBA9876543210");
  ASSERT_EQ(wide.fault, TekhexFault::kNone) << tekhexFaultName(wide.fault);
  EXPECT_EQ(wide.addressDigits, 16);
  EXPECT_EQ(wide.address, 0xFEDCBA9876543210u);
}

TEST(TekhexRecordTest, LowercaseCountsWithItsOwnValue) {
  // "ab" as data: 40 + 41 in the sum, not 10 + 11.
  TekhexRecord upper = parse("0C62C41000AB");
  EXPECT_EQ(upper.fault, TekhexFault::kNone) << upper.computedChecksum;
  TekhexRecord lower = parse("0C62C41000ab");
  EXPECT_EQ(lower.fault, TekhexFault::kChecksumMismatch);
  EXPECT_EQ(lower.computedChecksum, 0x2C + 30 + 30);
  EXPECT_EQ(parse("0C66841000ab").fault, TekhexFault::kNone);
}

TEST(TekhexRecordTest, FaultsAndWhereTheyAre) {
  struct Case {
    const char* text;
    TekhexFault fault;
    int offset;
  };
  const Case cases[] = {
      {"0E8", TekhexFault::kTooShort, 3},
      {"0E81F8001@0000", TekhexFault::kBadCharacter, 9},
      {"X981F", TekhexFault::kLengthDigits, 0},
      {"0F81F800100000", TekhexFault::kLengthMismatch, 0},
      {"0E71F800100000", TekhexFault::kUnknownType, 2},
      {"0E8G1800100000", TekhexFault::kChecksumDigits, 3},
      {"0581F", TekhexFault::kAddressLength, 5},
      {"0A81F80010", TekhexFault::kAddressDigits, 10},
      {"0B600410G00", TekhexFault::kAddressDigits, 8},
      {"0B60041000G", TekhexFault::kDataDigits, 10},
      {"0B60041000A", TekhexFault::kOddData, 10},
      {"0C80041000AA", TekhexFault::kTrailing, 10},
      {"0E81E800100000", TekhexFault::kChecksumMismatch, 3},
  };
  for (const Case& c : cases) {
    TekhexRecord record = parse(c.text);
    EXPECT_EQ(record.fault, c.fault) << c.text << ": " << tekhexFaultName(record.fault);
    EXPECT_EQ(record.faultOffset, c.offset) << c.text;
  }
}

TEST(TekhexRecordTest, SymbolRecordsTakeTheWholeCharacterSet) {
  TekhexRecord record = parse("103AF4Code_main.");
  EXPECT_EQ(record.fault, TekhexFault::kNone) << tekhexFaultName(record.fault);
  EXPECT_EQ(record.type, kTekhexSymbol);
  // The same letter in the other case is another value.
  EXPECT_EQ(parse("103AF4CoDe_main.").fault, TekhexFault::kChecksumMismatch);
}

}  // namespace
