#include "hand_rig.h"

#include <gtest/gtest.h>

#include "bus_timing.h"
#include "sim_clock.h"

namespace {

constexpr int kNode = 12;
const CanFrame kQuery{kNode, 0, 1, {0x00}};
const CanFrame kReset{kNode, 0, 4, {0x85, 0x00, 0x00, 0x00}};
const CanFrame kStart{kNode, 0, 4, {0x80, 0x00, 0xAA, 0x00}};

CanFrame data(char c) {
  return CanFrame{kNode, 0, 1, {static_cast<uint8_t>(c)}};
}

// A rig on the virtual clock whose person does nothing unless a test switches the hand.
struct RigTest : testing::Test {
  explicit RigTest(bool handOn = true) : rig(clock, config(handOn)) {}

  static RigConfig config(bool handOn) {
    RigConfig c;
    c.node = kNode;
    c.person = PersonPlan::kIdle;
    c.handOnAtStart = handOn;
    return c;
  }

  void wait(SimTime span) {
    clock.sleep(span);
    rig.catchUp();
  }

  int drain() {
    CanFrame frame;
    int frames = 0;
    while (rig.read(&frame) == kCanOk) {
      ++frames;
    }
    return frames;
  }

  VirtualClock clock;
  HandRig rig;
};

struct HandOffTest : RigTest {
  HandOffTest() : RigTest(false) {}
};

TEST_F(RigTest, CallsOnAClosedChannelFail) {
  CanFrame frame;
  EXPECT_NE(rig.read(&frame), kCanOk);
  EXPECT_NE(rig.write(kQuery), kCanOk);
  EXPECT_NE(rig.close(), kCanOk);
  ASSERT_EQ(rig.open(), kCanOk);
  EXPECT_NE(rig.open(), kCanOk);
}

TEST_F(RigTest, ReadOnAnEmptyQueueFailsAtOnce) {
  ASSERT_EQ(rig.open(), kCanOk);
  SimTime before = clock.now();
  CanFrame frame;
  EXPECT_NE(rig.read(&frame), kCanOk);
  EXPECT_EQ(clock.now() - before, kAdapterCallCost);
}

TEST_F(RigTest, AnswerTakesItsWireTimeAndLatency) {
  ASSERT_EQ(rig.open(), kCanOk);
  ASSERT_EQ(rig.write(kQuery), kCanOk);
  SimTime sent = clock.now();
  CanFrame answer{rig.node().replyIdentifier(), 0, 1, {0x21}};
  SimTime due = frameWireTime(kQuery) + kNodeAnswerLatency + frameWireTime(answer);
  wait(due - 1);
  EXPECT_EQ(rig.adapter().rxQueued(), 0);
  wait(1);
  EXPECT_EQ(rig.adapter().rxQueued(), 1);
  EXPECT_EQ(clock.now() - sent, due);
}

TEST_F(RigTest, EachReadTakesOneFrame) {
  ASSERT_EQ(rig.open(), kCanOk);
  ASSERT_EQ(rig.write(kQuery), kCanOk);
  ASSERT_EQ(rig.write(kQuery), kCanOk);
  wait(kMillisecond);
  EXPECT_EQ(drain(), 2);
}

TEST_F(RigTest, CloseAndOpenDropReceivedFrames) {
  ASSERT_EQ(rig.open(), kCanOk);
  ASSERT_EQ(rig.write(kQuery), kCanOk);
  wait(kMillisecond);
  ASSERT_EQ(rig.close(), kCanOk);
  ASSERT_EQ(rig.open(), kCanOk);
  EXPECT_EQ(drain(), 0);
}

TEST_F(RigTest, FramesToOtherNodesAreIgnored) {
  ASSERT_EQ(rig.open(), kCanOk);
  CanFrame other = kQuery;
  other.identifier = kNode + 1;
  ASSERT_EQ(rig.write(other), kCanOk);
  wait(kMillisecond);
  EXPECT_EQ(rig.adapter().txQueued(), 0);  // acknowledged all the same
  EXPECT_EQ(drain(), 0);
}

TEST_F(HandOffTest, UnacknowledgedFrameWaitsForThePowerOn) {
  ASSERT_EQ(rig.open(), kCanOk);
  ASSERT_EQ(rig.write(kQuery), kCanOk);
  wait(kSecond);
  EXPECT_EQ(rig.adapter().txQueued(), 1);
  rig.switchHand(true);
  wait(kMillisecond);
  EXPECT_EQ(rig.adapter().txQueued(), 0);
  EXPECT_EQ(rig.stats().framesOnBus, 1u);
  // The node was still booting: the query went unanswered.
  EXPECT_EQ(drain(), 0);
}

TEST_F(HandOffTest, RecycleDropsUnacknowledgedFrames) {
  ASSERT_EQ(rig.open(), kCanOk);
  ASSERT_EQ(rig.write(kQuery), kCanOk);
  ASSERT_EQ(rig.close(), kCanOk);
  ASSERT_EQ(rig.open(), kCanOk);
  rig.switchHand(true);
  wait(kSecond);
  EXPECT_EQ(rig.stats().framesOnBus, 0u);
}

TEST_F(HandOffTest, WriteFailsWhenTheQueueIsFull) {
  ASSERT_EQ(rig.open(), kCanOk);
  for (int i = 0; i < kAdapterTxQueueFrames; ++i) {
    ASSERT_EQ(rig.write(kQuery), kCanOk) << i;
  }
  EXPECT_NE(rig.write(kQuery), kCanOk);
  EXPECT_EQ(rig.stats().queries, kAdapterTxQueueFrames);
}

TEST_F(HandOffTest, NodeAnswersOnlyOnceBooted) {
  ASSERT_EQ(rig.open(), kCanOk);
  rig.switchHand(true);
  wait(kNodeBootTime - kMillisecond);
  ASSERT_EQ(rig.write(kQuery), kCanOk);
  wait(kMillisecond / 2);
  EXPECT_EQ(drain(), 0);
  wait(kMillisecond);
  ASSERT_EQ(rig.write(kQuery), kCanOk);
  wait(kMillisecond);
  EXPECT_EQ(drain(), 1);
}

TEST_F(HandOffTest, DownloadWithinTheWindowGetsGoAheads) {
  ASSERT_EQ(rig.open(), kCanOk);
  rig.switchHand(true);
  wait(kNodeBootTime);
  ASSERT_EQ(rig.write(kReset), kCanOk);
  wait(kSecond);
  ASSERT_EQ(rig.write(kStart), kCanOk);
  wait(kMillisecond);
  EXPECT_EQ(drain(), 1);
  for (char c : std::string("0E81F800100000")) {
    ASSERT_EQ(rig.write(data(c)), kCanOk);
    wait(kMillisecond);
    EXPECT_EQ(drain(), 1);
  }
  EXPECT_EQ(rig.node().log().data, "0E81F800100000");
  EXPECT_EQ(rig.node().records().recordsOk(), 1);
}

TEST_F(HandOffTest, ResetAfterTheWindowIsIgnored) {
  ASSERT_EQ(rig.open(), kCanOk);
  rig.switchHand(true);
  wait(kDownloadWindow + kMillisecond);
  ASSERT_EQ(rig.write(kReset), kCanOk);
  wait(kMillisecond);
  ASSERT_EQ(rig.write(kStart), kCanOk);
  wait(kMillisecond);
  EXPECT_EQ(drain(), 0);
  EXPECT_EQ(rig.node().log().starts, 0);
}

TEST_F(RigTest, PowerLossDropsTheDownload) {
  // A hand that has been on since before the run has no open window either.
  ASSERT_EQ(rig.open(), kCanOk);
  ASSERT_EQ(rig.write(kReset), kCanOk);
  wait(kMillisecond);
  EXPECT_EQ(rig.node().log().resets, 0);
  rig.switchHand(false);
  rig.switchHand(true);
  wait(kNodeBootTime);
  ASSERT_EQ(rig.write(kReset), kCanOk);
  ASSERT_EQ(rig.write(kStart), kCanOk);
  wait(kMillisecond);
  EXPECT_EQ(drain(), 1);
  rig.switchHand(false);
  rig.switchHand(true);
  wait(kNodeBootTime);
  ASSERT_EQ(rig.write(data('0')), kCanOk);
  wait(kMillisecond);
  EXPECT_EQ(drain(), 0);
  EXPECT_EQ(rig.node().log().data, "");
}

}  // namespace
