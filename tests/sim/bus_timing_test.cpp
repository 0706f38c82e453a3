#include "bus_timing.h"

#include <gtest/gtest.h>

namespace {

TEST(BusTimingTest, StuffBitStartsTheNextRun) {
  EXPECT_EQ(countStuffBits({0, 0, 0, 0}), 0);
  EXPECT_EQ(countStuffBits({0, 0, 0, 0, 0}), 1);
  // After five 0s a 1 is stuffed; it and four real 1s make five equal bits again.
  EXPECT_EQ(countStuffBits({0, 0, 0, 0, 0, 1, 1, 1, 1}), 2);
  // Ten 1s in a row: one stuff bit after the fifth, and after the tenth.
  EXPECT_EQ(countStuffBits(std::vector<uint8_t>(10, 1)), 2);
  EXPECT_EQ(countStuffBits({0, 1, 0, 1, 0, 1, 0, 1}), 0);
}

TEST(BusTimingTest, AllZeroFrame) {
  // SOF, identifier 0, RTR, IDE, r0, length 0 and a CRC of 0: 34 dominant bits, stuffed after
  // every fifth, then 13 bits of delimiters, end of frame and intermission.
  CanFrame frame{0, 0, 0, {}};
  std::vector<uint8_t> region = frameStuffedRegion(frame);
  EXPECT_EQ(region.size(), 34u);
  EXPECT_EQ(countStuffBits(region), 6);
  EXPECT_EQ(frameBits(frame), 53);
  EXPECT_EQ(frameWireTime(frame), 53u);
}

TEST(BusTimingTest, RegionCarriesIdentifierLengthAndData) {
  CanFrame frame{0x00E, 0, 4, {0x80, 0x00, 0xAA, 0x00}};
  std::vector<uint8_t> region = frameStuffedRegion(frame);
  ASSERT_EQ(region.size(), 19u + 32u + 15u);
  std::vector<uint8_t> head(region.begin(), region.begin() + 19);
  EXPECT_EQ(head, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0}));
  std::vector<uint8_t> third(region.begin() + 19 + 16, region.begin() + 19 + 24);
  EXPECT_EQ(third, (std::vector<uint8_t>{1, 0, 1, 0, 1, 0, 1, 0}));
}

TEST(BusTimingTest, CrcLeavesNoRemainder) {
  // A receiver running the CRC over the frame and its CRC field ends at zero.
  for (int byte : {0x00, 0x30, 0x46, 0x7F, 0xFF}) {
    CanFrame frame{12, 0, 1, {static_cast<uint8_t>(byte)}};
    EXPECT_EQ(canCrc15(frameStuffedRegion(frame)), 0) << byte;
  }
  CanFrame reset{11, 0, 4, {0x85, 0x00, 0x00, 0x00}};
  EXPECT_EQ(canCrc15(frameStuffedRegion(reset)), 0);
  EXPECT_NE(canCrc15({1, 0, 1}), 0);
}

TEST(BusTimingTest, OneByteFramesLieBetweenNoStuffingAndTheWorstCase) {
  // 55 bits unstuffed; at most one stuff bit per four bits after the first of the 42 stuffed.
  for (uint32_t id = 11; id <= 14; ++id) {
    for (int byte = 0x30; byte <= 0x7F; ++byte) {
      CanFrame frame{id, 0, 1, {static_cast<uint8_t>(byte)}};
      int bits = frameBits(frame);
      EXPECT_GE(bits, 55);
      EXPECT_LE(bits, 55 + (42 - 1) / 4);
    }
  }
}

}  // namespace
