#include "tekhex_assembler.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Records as the node receives them: without the "%" mark.
const std::string kData =
    "4E60B800100000D659CCE65AF39AF629BAFBF27C20BA0C1A1FD4356B8DDE623DB024A051A09F12";
const std::string kEnd = "0E81F800100000";

void feed(TekhexAssembler* assembler, const std::string& text) {
  for (char c : text) {
    assembler->add(c);
  }
}

TEST(TekhexAssemblerTest, GoodRecordsBackToBack) {
  TekhexAssembler assembler;
  feed(&assembler, kData + kEnd);
  EXPECT_EQ(assembler.recordsOk(), 2);
  EXPECT_EQ(assembler.recordsBad(), 0);
  EXPECT_EQ(assembler.pendingChars(), 0);
}

TEST(TekhexAssemblerTest, CorruptedCharacterFailsItsRecordOnly) {
  std::string corrupted = kData;
  corrupted[40] = corrupted[40] == 'A' ? 'B' : 'A';
  TekhexAssembler assembler;
  feed(&assembler, corrupted + kEnd);
  EXPECT_EQ(assembler.recordsOk(), 1);
  EXPECT_EQ(assembler.recordsBad(), 1);
}

TEST(TekhexAssemblerTest, WrongChecksumDigits) {
  std::string wrong = kEnd;
  wrong[4] = '0';  // checksum 1F becomes 10
  TekhexAssembler assembler;
  feed(&assembler, wrong);
  EXPECT_EQ(assembler.recordsBad(), 1);
  EXPECT_EQ(assembler.recordsOk(), 0);
}

TEST(TekhexAssemblerTest, LostCharacterIsNotCountedGood) {
  // One character missing: the record swallows the next record's first character, whose
  // checksum cannot hold, and the stream never realigns to a good record.
  std::string shortened = kData.substr(0, 30) + kData.substr(31);
  TekhexAssembler assembler;
  feed(&assembler, shortened + kEnd);
  EXPECT_EQ(assembler.recordsOk(), 0);
  EXPECT_GE(assembler.recordsBad(), 1);
}

TEST(TekhexAssemblerTest, IncompleteRecordIsPending) {
  TekhexAssembler assembler;
  feed(&assembler, kEnd.substr(0, 9));
  EXPECT_EQ(assembler.recordsOk() + assembler.recordsBad(), 0);
  EXPECT_EQ(assembler.pendingChars(), 9);
}

}  // namespace
