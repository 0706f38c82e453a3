#include "download/node_frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> bytes(const CanFrame& frame) {
  EXPECT_EQ(frame.type, 0);
  return std::vector<uint8_t>(frame.data, frame.data + frame.length);
}

TEST(NodeFramesTest, FramesCarryNodeNumberAndBytes) {
  EXPECT_EQ(queryFrame(13).identifier, 0x00Du);
  EXPECT_EQ(bytes(queryFrame(13)), (std::vector<uint8_t>{0x00}));
  EXPECT_EQ(resetFrame(11).identifier, 0x00Bu);
  EXPECT_EQ(bytes(resetFrame(11)), (std::vector<uint8_t>{0x85, 0x00, 0x00, 0x00}));
  EXPECT_EQ(startFrame(14).identifier, 0x00Eu);
  EXPECT_EQ(bytes(startFrame(14)), (std::vector<uint8_t>{0x80, 0x00, 0xAA, 0x00}));
  // A character goes onto the bus as its text byte, not its hex value.
  EXPECT_EQ(bytes(dataFrame(12, 'F')), (std::vector<uint8_t>{0x46}));
  EXPECT_EQ(bytes(dataFrame(12, 'A')), (std::vector<uint8_t>{0x41}));
  EXPECT_EQ(bytes(dataFrame(12, '\x7F')), (std::vector<uint8_t>{0x7F}));
}

TEST(NodeFramesTest, Names) {
  EXPECT_STREQ(nodletName(11), "Finger 1");
  EXPECT_STREQ(nodletName(12), "Finger 2");
  EXPECT_STREQ(nodletName(13), "Finger 3");
  EXPECT_STREQ(nodletName(14), "Spread");
  EXPECT_STREQ(nodletName(15), "<Unknown>");
  EXPECT_STREQ(nodletName(10), "<Unknown>");
}

}  // namespace
