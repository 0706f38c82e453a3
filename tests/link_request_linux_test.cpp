#include "can/link_request_linux.h"

#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <net/if_arp.h>

#include <cstring>
#include <vector>

namespace {

CanBitTiming timing500k() {
  CanBitTiming timing;
  timing.bitRate = 500000;
  timing.samplePoint = 875;
  timing.tq = 125;
  timing.propSeg = 6;
  timing.phaseSeg1 = 7;
  timing.phaseSeg2 = 2;
  timing.sjw = 1;
  timing.brp = 1;
  return timing;
}

// A set-timing request carries the attributes the kernel sends for a CAN controller in its link
// answers, nested the same way: read back as an answer, it shows what was built.
TEST(LinkRequestTest, TheBitTimingAsBuiltReadsBackFromTheMessage) {
  LinkRequest request;
  ASSERT_TRUE(buildBitTimingRequest(&request, "pcan_hand", timing500k(), 7));
  CanInterfaceState state;
  ASSERT_EQ(readLinkAnswer(request.bytes, request.length(), 7, &state), LinkAnswer::kLink);
  EXPECT_TRUE(state.controller);
  EXPECT_FALSE(state.up);
  EXPECT_EQ(state.bitRate, 500000U);
  EXPECT_EQ(state.timing.tq, 125U);
  EXPECT_EQ(state.timing.propSeg, 6U);
  EXPECT_EQ(state.timing.phaseSeg1, 7U);
  EXPECT_EQ(state.timing.phaseSeg2, 2U);
  EXPECT_EQ(state.timing.sjw, 1U);
  EXPECT_EQ(state.timing.samplePoint, 875U);
  // Another request's answer is not this one's.
  EXPECT_EQ(readLinkAnswer(request.bytes, request.length(), 8, &state), LinkAnswer::kOther);
}

// The link's type tells a CAN interface from any other the configuration file could name.
TEST(LinkRequestTest, OnlyTheCanLinkTypeIsCan) {
  LinkRequest request;
  // A request to change a link has the form of the kernel's answer about one.
  ASSERT_TRUE(buildLinkFlagsRequest(&request, "eth0", true, 4));
  auto* link = static_cast<ifinfomsg*>(NLMSG_DATA(reinterpret_cast<nlmsghdr*>(request.bytes)));
  link->ifi_type = ARPHRD_ETHER;
  CanInterfaceState state;
  ASSERT_EQ(readLinkAnswer(request.bytes, request.length(), 4, &state), LinkAnswer::kLink);
  EXPECT_FALSE(state.can);
  link->ifi_type = ARPHRD_CAN;
  ASSERT_EQ(readLinkAnswer(request.bytes, request.length(), 4, &state), LinkAnswer::kLink);
  EXPECT_TRUE(state.can);
}

TEST(LinkRequestTest, NamesThatCannotBeAnInterfaceBuildNothing) {
  LinkRequest request;
  EXPECT_FALSE(buildLinkFlagsRequest(&request, "", true, 1));
  EXPECT_FALSE(buildLinkFlagsRequest(&request, "averyveryverylongname", true, 1));
  EXPECT_FALSE(buildGetLinkRequest(&request, "../can0", 1));
  EXPECT_EQ(request.length(), 0U);
  EXPECT_TRUE(buildLinkFlagsRequest(&request, "can0", true, 1));
  EXPECT_GT(request.length(), 0U);
}

TEST(LinkRequestTest, AnswersAreReadWithinTheirLength) {
  // The kernel's acknowledgement, and its refusal.
  alignas(nlmsghdr) unsigned char answer[NLMSG_SPACE(sizeof(nlmsgerr))] = {};
  auto* message = reinterpret_cast<nlmsghdr*>(answer);
  message->nlmsg_len = NLMSG_LENGTH(sizeof(nlmsgerr));
  message->nlmsg_type = NLMSG_ERROR;
  message->nlmsg_seq = 3;
  auto* error = static_cast<nlmsgerr*>(NLMSG_DATA(message));
  EXPECT_EQ(readLinkAnswer(answer, sizeof(answer), 3, nullptr), LinkAnswer::kDone);
  error->error = -16;  // EBUSY: the bit rate of an interface that is up
  EXPECT_EQ(readLinkAnswer(answer, sizeof(answer), 3, nullptr), LinkAnswer::kRefused);
  EXPECT_EQ(readLinkAnswer(answer, 10, 3, nullptr), LinkAnswer::kMalformed);

  // A link answer cut short anywhere is never read beyond what arrived.
  LinkRequest request;
  ASSERT_TRUE(buildBitTimingRequest(&request, "can0", timing500k(), 9));
  for (size_t length = 0; length < request.length(); ++length) {
    std::vector<unsigned char> cut(request.bytes, request.bytes + length);
    cut.resize(sizeof(request.bytes));  // aligned room, but only |length| bytes count
    CanInterfaceState state;
    EXPECT_NE(readLinkAnswer(cut.data(), length, 9, &state), LinkAnswer::kLink) << length;
  }
  // An attribute claiming more than its message holds ends the walk: nothing after it is read.
  auto* link = reinterpret_cast<nlmsghdr*>(request.bytes);
  auto* name = reinterpret_cast<rtattr*>(request.bytes + NLMSG_LENGTH(sizeof(ifinfomsg)));
  name->rta_len = 0xffff;
  CanInterfaceState state;
  EXPECT_EQ(readLinkAnswer(request.bytes, link->nlmsg_len, 9, &state), LinkAnswer::kLink);
  EXPECT_FALSE(state.controller);
}

}  // namespace
