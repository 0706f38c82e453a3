#include "host/realtime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(RealtimeTest, PicksTheLastCpuWhenAllAreAllowed) {
  EXPECT_EQ(pickCpuMask(0xF, 64, 4), 0x8u);
  EXPECT_EQ(pickCpuMask(0x1, 64, 1), 0x1u);
  EXPECT_EQ(pickCpuMask(0xFFFFFFFFFFFFFFFFull, 64, 64), 0x8000000000000000ull);
  // A 32-bit mask is walked over 32 positions only.
  EXPECT_EQ(pickCpuMask(0xFFFFFFFFull, 32, 32), 0x80000000ull);
}

TEST(RealtimeTest, RestrictedAffinityPinsToHighestAllowedCpu) {
  EXPECT_EQ(pickCpuMask(0x5, 64, 4), 0x4u);    // CPUs 0 and 2 of 4
  EXPECT_EQ(pickCpuMask(0x2, 64, 2), 0x2u);    // a single CPU
  EXPECT_EQ(pickCpuMask(0xF0, 64, 8), 0x80u);  // the upper half
  EXPECT_EQ(pickCpuMask(0x0100000000000001ull, 64, 64), 0x0100000000000000ull);
  // Allowed CPUs above the walked width are out of reach.
  EXPECT_EQ(pickCpuMask(0x100000000ull, 32, 64), 0u);
  // More allowed positions than processors (gaps in the numbering): the N-th allowed one.
  EXPECT_EQ(pickCpuMask(0x55, 64, 2), 0x4u);
}

// Records the set-up's calls and answers its reads from fields.
class FakeScheduling : public SchedulingPlatform {
 public:
  std::vector<std::string> calls;
  bool affinityOk = true;
  uint64_t processMask = 0xF;
  int processors = 4;
  uint32_t classValue = kHighPriorityClass;
  int threadValue = kThreadPriorityTimeCritical;
  uint64_t setMask = 0;

  void raiseThreadPriority() override { calls.push_back("thread"); }
  void raiseProcessClass() override { calls.push_back("class"); }
  bool readAffinity(uint64_t* process, uint64_t* system, int* width) override {
    calls.push_back("affinity");
    *process = processMask;
    *system = 0xF;
    *width = 64;
    return affinityOk;
  }
  int processorCount() override {
    calls.push_back("count");
    return processors;
  }
  void setAffinity(uint64_t mask) override {
    calls.push_back("pin");
    setMask = mask;
  }
  uint32_t priorityClass() override {
    calls.push_back("read class");
    return classValue;
  }
  int threadPriority() override {
    calls.push_back("read thread");
    return threadValue;
  }
  int lastError() override { return 5; }
};

std::string runSetup(FakeScheduling* platform, bool expected) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(setupRealtime(*platform), expected);
  return testing::internal::GetCapturedStdout();
}

TEST(RealtimeTest, SetsThenChecksInOrder) {
  FakeScheduling platform;
  EXPECT_EQ(runSetup(&platform, true), "");
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"thread", "class", "affinity", "count", "pin",
                                                      "read class", "read thread"}));
  EXPECT_EQ(platform.setMask, 0x8u);
}

TEST(RealtimeTest, EachCheckFailsOnItsOwn) {
  FakeScheduling silent;
  silent.affinityOk = false;
  EXPECT_EQ(runSetup(&silent, false), "");
  EXPECT_EQ(silent.calls.back(), "affinity");

  FakeScheduling classRead;
  classRead.classValue = 0;
  EXPECT_EQ(runSetup(&classRead, false), "ERRORError getting priority class: 5. Aborting.\n");

  FakeScheduling classWrong;
  classWrong.classValue = 0x20;
  EXPECT_EQ(runSetup(&classWrong, false), "ERRORPriority class is not 0x80. Aborting.\n");
  EXPECT_EQ(classWrong.calls.back(), "read class");

  FakeScheduling threadRead;
  threadRead.threadValue = kThreadPriorityErrorReturn;
  EXPECT_EQ(runSetup(&threadRead, false), "ERROR getting thread priority: 5. Aborting.\n");

  FakeScheduling threadWrong;
  threadWrong.threadValue = 2;
  EXPECT_EQ(runSetup(&threadWrong, false), "ERRORThread priority is not 0x0F. Aborting.\n");
}

}  // namespace
