// The core's seams, served by the virtual hand: the adapter channel, the sleep and the scheduler.
#pragma once

#include <cstdint>

#include "can/can_port.h"
#include "hand_rig.h"
#include "host/millisecond_sleep.h"
#include "host/realtime.h"
#include "scenario.h"

/// Called before each of the tool's calls into the virtual hand: the moments its run may be
/// stopped at.
using Checkpoint = void (*)();

/// The tool's adapter channel, carried to the rig's adapter.
class SimPort : public CanPort {
 public:
  SimPort(HandRig& rig, Checkpoint checkpoint) : rig_(rig), checkpoint_(checkpoint) {}

 protected:
  CanStatus doOpen() override {
    checkpoint_();
    return rig_.open();
  }
  CanStatus doClose() override {
    checkpoint_();
    return rig_.close();
  }
  CanStatus doRead(CanFrame* frame) override {
    checkpoint_();
    return rig_.read(frame);
  }
  CanStatus doWrite(const CanFrame& frame) override {
    checkpoint_();
    return rig_.write(frame);
  }

 private:
  HandRig& rig_;
  Checkpoint checkpoint_;
};

/// The tool's sleep, on the rig's clock.
class SimSleeper : public Sleeper {
 public:
  SimSleeper(HandRig& rig, Checkpoint checkpoint) : rig_(rig), checkpoint_(checkpoint) {}
  void sleepMs(unsigned ms) override {
    checkpoint_();
    rig_.sleepMs(ms);
  }

 private:
  HandRig& rig_;
  Checkpoint checkpoint_;
};

/// The error codes the scheduling stand-in reports for its failed reads.
constexpr int kSimClassReadError = 5;
constexpr int kSimThreadReadError = 6;
/// The processors of the stand-in's machine.
constexpr int kSimProcessors = 4;

/// A scheduler of a machine with kSimProcessors CPUs that grants what it is asked, or fails as
/// the scenario says. It remembers what it was set to.
class SimScheduling : public SchedulingPlatform {
 public:
  explicit SimScheduling(SchedulingFault fault) : fault_(fault) {}

  void raiseThreadPriority() override { thread_priority_ = kThreadPriorityTimeCritical; }
  void raiseProcessClass() override { priority_class_ = kHighPriorityClass; }
  bool readAffinity(CpuSet* allowed) override;
  int processorCount() override { return kSimProcessors; }
  void setAffinity(const CpuSet& cpus) override;
  uint32_t priorityClass() override;
  int threadPriority() override;
  int lastError() override { return last_error_; }

  /// The affinity the tool set; 0 until it set one.
  uint64_t affinity() const { return affinity_; }

 private:
  SchedulingFault fault_;
  uint64_t affinity_ = 0;
  uint32_t priority_class_ = 0x20;  // normal
  int thread_priority_ = 0;         // normal
  int last_error_ = 0;
};
