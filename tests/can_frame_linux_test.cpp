#include "can/can_frame_linux.h"

#include <gtest/gtest.h>
#include <linux/can/error.h>

namespace {

can_frame received(canid_t id, uint8_t length) {
  can_frame frame{};
  frame.can_id = id;
  frame.len = length;
  for (uint8_t i = 0; i < CAN_MAX_DLEN; ++i) {
    frame.data[i] = static_cast<uint8_t>(0xA0 + i);
  }
  return frame;
}

// Every frame the adapter's read hands out counts as an answer: data and remote frames, with
// standard or extended identifiers, typed as the adapter library types them.
TEST(FrameFromSocket, DataAndRemoteFramesStandardOrExtended) {
  CanFrame frame{};
  ASSERT_TRUE(frameFromSocket(received(12, 2), &frame));
  EXPECT_EQ(frame.identifier, 12u);
  EXPECT_EQ(frame.type, 0x00);
  EXPECT_EQ(frame.length, 2);
  EXPECT_EQ(frame.data[1], 0xA1);

  ASSERT_TRUE(frameFromSocket(received(12 | CAN_RTR_FLAG, 4), &frame));
  EXPECT_EQ(frame.identifier, 12u);
  EXPECT_EQ(frame.type, 0x01);
  EXPECT_EQ(frame.length, 4);
  EXPECT_EQ(frame.data[0], 0) << "a remote frame carries no data";

  ASSERT_TRUE(frameFromSocket(received(0x1ABCDEF0 | CAN_EFF_FLAG, 8), &frame));
  EXPECT_EQ(frame.identifier, 0x1ABCDEF0u);
  EXPECT_EQ(frame.type, 0x02);
  EXPECT_EQ(frame.data[7], 0xA7);

  ASSERT_TRUE(frameFromSocket(received(0x1ABCDEF0 | CAN_EFF_FLAG | CAN_RTR_FLAG, 0), &frame));
  EXPECT_EQ(frame.identifier, 0x1ABCDEF0u);
  EXPECT_EQ(frame.type, 0x03);
}

TEST(FrameFromSocket, ErrorFramesAreNoAnswer) {
  CanFrame frame{};
  EXPECT_FALSE(frameFromSocket(received(CAN_ERR_FLAG | CAN_ERR_BUSOFF, CAN_ERR_DLC), &frame));
}

}  // namespace
