#include "host/realtime.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

// A set of |size| CPUs holding |cpus|.
CpuSet cpuSet(size_t size, std::initializer_list<size_t> cpus) {
  CpuSet set(size, false);
  for (size_t cpu : cpus) {
    set[cpu] = true;
  }
  return set;
}

// A set of |size| CPUs holding CPUs first to last.
CpuSet cpuRange(size_t size, size_t first, size_t last) {
  CpuSet set(size, false);
  for (size_t cpu = first; cpu <= last; ++cpu) {
    set[cpu] = true;
  }
  return set;
}

TEST(RealtimeTest, PicksTheLastCpuWhenAllAreAllowed) {
  EXPECT_EQ(pickCpu(cpuRange(64, 0, 3), 4), 3);
  EXPECT_EQ(pickCpu(cpuRange(64, 0, 0), 1), 0);
  EXPECT_EQ(pickCpu(cpuRange(64, 0, 63), 64), 63);
  // Beyond the 64 CPUs one mask holds.
  EXPECT_EQ(pickCpu(cpuRange(128, 0, 127), 128), 127);
  EXPECT_EQ(pickCpu(cpuRange(4096, 0, 2047), 2048), 2047);
}

TEST(RealtimeTest, RestrictedAffinityPinsToHighestAllowedCpu) {
  EXPECT_EQ(pickCpu(cpuSet(64, {0, 2}), 4), 2);
  EXPECT_EQ(pickCpu(cpuSet(64, {1}), 2), 1);
  EXPECT_EQ(pickCpu(cpuRange(64, 4, 7), 8), 7);
  EXPECT_EQ(pickCpu(cpuSet(64, {0, 56}), 64), 56);
  // Only CPUs 70 and 71 of 72 allowed: far past a 64-bit mask.
  EXPECT_EQ(pickCpu(cpuSet(128, {70, 71}), 72), 71);
  EXPECT_EQ(pickCpu(cpuSet(8192, {1500}), 2048), 1500);
  // More allowed positions than processors (gaps in the numbering): the N-th allowed one.
  EXPECT_EQ(pickCpu(cpuSet(64, {0, 2, 4, 6}), 2), 2);
  EXPECT_EQ(pickCpu(CpuSet(64, false), 4), -1);
}

// Records the set-up's calls and answers its reads from fields.
class FakeScheduling : public SchedulingPlatform {
 public:
  std::vector<std::string> calls;
  bool affinityOk = true;
  CpuSet allowed = cpuRange(64, 0, 3);
  int processors = 4;
  uint32_t classValue = kHighPriorityClass;
  int threadValue = kThreadPriorityTimeCritical;
  CpuSet pinned;

  void raiseThreadPriority() override { calls.push_back("thread"); }
  void raiseProcessClass() override { calls.push_back("class"); }
  bool readAffinity(CpuSet* set) override {
    calls.push_back("affinity");
    *set = allowed;
    return affinityOk;
  }
  int processorCount() override {
    calls.push_back("count");
    return processors;
  }
  void setAffinity(const CpuSet& cpus) override {
    calls.push_back("pin");
    pinned = cpus;
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
  EXPECT_EQ(platform.pinned, cpuSet(64, {3}));

  // On a large machine the whole set is read and pinned.
  FakeScheduling large;
  large.allowed = cpuSet(1024, {70, 71});
  large.processors = 72;
  EXPECT_EQ(runSetup(&large, true), "");
  EXPECT_EQ(large.pinned, cpuSet(1024, {71}));
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
