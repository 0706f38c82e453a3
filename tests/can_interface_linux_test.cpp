#include "can/can_interface_linux.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// A stand-in for /sys/class/net with interfaces whose drivers the test names.
class FakeSysfs {
 public:
  FakeSysfs()
      : root_(fs::temp_directory_path() / ("nodletflash-sysfs-" + std::to_string(getpid()))) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "drivers");
  }
  ~FakeSysfs() { fs::remove_all(root_); }

  void add(const std::string& name, int index, const std::string& driver) {
    fs::path net = root_ / "net" / name;
    fs::create_directories(net);
    std::ofstream(net / "ifindex") << index << "\n";
    if (!driver.empty()) {
      fs::create_directories(root_ / "devices" / name);
      fs::create_directories(root_ / "drivers" / driver);
      fs::create_directory_symlink(root_ / "devices" / name, net / "device");
      fs::create_directory_symlink(root_ / "drivers" / driver, root_ / "devices" / name / "driver");
    }
  }
  std::string net() const { return (root_ / "net").string(); }

 private:
  fs::path root_;
};

TEST(CanInterfaceLinuxTest, LowestIndexedPeakUsbInterfaceWins) {
  FakeSysfs sysfs;
  sysfs.add("lo", 1, "");
  sysfs.add("eth0", 2, "virtio_net");
  sysfs.add("can0", 3, "gs_usb");
  sysfs.add("can1", 7, "peak_usb");
  sysfs.add("can2", 5, "peak_usb");
  sysfs.add("vcan0", 4, "");
  EXPECT_EQ(firstPeakUsbInterface(sysfs.net()), "can2");
}

TEST(CanInterfaceLinuxTest, NoPeakUsbInterfaceIsNoInterface) {
  FakeSysfs sysfs;
  sysfs.add("lo", 1, "");
  sysfs.add("can0", 3, "gs_usb");
  EXPECT_EQ(firstPeakUsbInterface(sysfs.net()), "");
  EXPECT_EQ(firstPeakUsbInterface("/nonexistent/sys/class/net"), "");
}

constexpr uint32_t k1M = 1000000;

CanInterfaceState stateOf(bool up, bool controller, uint32_t bitRate) {
  CanInterfaceState state;
  state.up = up;
  state.controller = controller;
  state.bitRate = bitRate;
  return state;
}

TEST(CanInterfaceLinuxTest, OpenResetsTheControllerAndSetsTheBitRateOnlyWhileDown) {
  // Up at 1 Mbit/s: stopped and started again, which resets the controller; the rate stays.
  CanOpenPlan plan = planCanOpen(stateOf(true, true, k1M), k1M);
  EXPECT_FALSE(plan.refuse);
  EXPECT_TRUE(plan.stop);
  EXPECT_FALSE(plan.setBitRate);
  EXPECT_TRUE(plan.start);

  // Fresh from the driver: down with no bit rate at all. It cannot start without one.
  plan = planCanOpen(stateOf(false, true, 0), k1M);
  EXPECT_FALSE(plan.refuse);
  EXPECT_FALSE(plan.stop);
  EXPECT_TRUE(plan.setBitRate);
  EXPECT_TRUE(plan.start);

  // Down at another rate: nobody is using it, so it is ours to set.
  plan = planCanOpen(stateOf(false, true, 500000), k1M);
  EXPECT_FALSE(plan.refuse);
  EXPECT_TRUE(plan.setBitRate);
  EXPECT_TRUE(plan.start);

  // Down at 1 Mbit/s, as every recycle finds it after the close.
  plan = planCanOpen(stateOf(false, true, k1M), k1M);
  EXPECT_FALSE(plan.stop);
  EXPECT_FALSE(plan.setBitRate);
  EXPECT_TRUE(plan.start);
}

TEST(CanInterfaceLinuxTest, OpenRefusesABusRunningAtAnotherBitRate) {
  CanOpenPlan plan = planCanOpen(stateOf(true, true, 500000), k1M);
  EXPECT_TRUE(plan.refuse);
  EXPECT_FALSE(plan.stop);
  EXPECT_FALSE(plan.setBitRate);
  EXPECT_FALSE(plan.start);
}

TEST(CanInterfaceLinuxTest, OpenTakesAVirtualInterfaceAsItIs) {
  CanOpenPlan plan = planCanOpen(stateOf(true, false, 0), k1M);
  EXPECT_FALSE(plan.refuse);
  EXPECT_TRUE(plan.stop);
  EXPECT_FALSE(plan.setBitRate);
  EXPECT_TRUE(plan.start);

  plan = planCanOpen(stateOf(false, false, 0), k1M);
  EXPECT_FALSE(plan.refuse);
  EXPECT_FALSE(plan.stop);
  EXPECT_FALSE(plan.setBitRate);
  EXPECT_TRUE(plan.start);
}

CanInterfaceState foundAt(bool up, const CanBitTiming& timing) {
  CanInterfaceState state = stateOf(up, true, timing.bitRate);
  state.timing = timing;
  return state;
}

TEST(CanInterfaceLinuxTest, RestorePutsBackTheTimingOnlyWhereTheRunSetsIt) {
  // 500 kbit/s on an SJA1000 with an 8 MHz clock, as `ip -details` shows it.
  CanBitTiming found;
  found.bitRate = 500000;
  found.samplePoint = 875;
  found.tq = 125;
  found.propSeg = 6;
  found.phaseSeg1 = 7;
  found.phaseSeg2 = 2;
  found.sjw = 1;
  found.brp = 1;

  // Down at 500 kbit/s: the run sets 1 Mbit/s, so the end stops it and sets the segments found
  // (the kernel refuses a bit rate together with a time quantum), and leaves it down.
  CanInterfaceState state = foundAt(false, found);
  CanRestorePlan plan = planCanRestore(state, planCanOpen(state, k1M).setBitRate);
  EXPECT_FALSE(plan.up);
  ASSERT_TRUE(plan.putTimingBack);
  EXPECT_EQ(plan.timing.bitRate, 0U);
  EXPECT_EQ(plan.timing.tq, 125U);
  EXPECT_EQ(plan.timing.propSeg, 6U);
  EXPECT_EQ(plan.timing.phaseSeg1, 7U);
  EXPECT_EQ(plan.timing.phaseSeg2, 2U);
  EXPECT_EQ(plan.timing.sjw, 1U);

  // A controller that takes only listed bit rates gets the bit rate back.
  state.fixedBitRates = true;
  plan = planCanRestore(state, true);
  ASSERT_TRUE(plan.putTimingBack);
  EXPECT_EQ(plan.timing.bitRate, 500000U);
  EXPECT_EQ(plan.timing.tq, 0U);

  // Up at 1 Mbit/s: the run changes no timing; only the up flag is put back.
  found.bitRate = k1M;
  state = foundAt(true, found);
  plan = planCanRestore(state, planCanOpen(state, k1M).setBitRate);
  EXPECT_TRUE(plan.up);
  EXPECT_FALSE(plan.putTimingBack);

  // Fresh from the driver: nothing to put back, it keeps 1 Mbit/s.
  state = stateOf(false, true, 0);
  plan = planCanRestore(state, planCanOpen(state, k1M).setBitRate);
  EXPECT_FALSE(plan.up);
  EXPECT_FALSE(plan.putTimingBack);

  // A virtual interface has no timing.
  plan = planCanRestore(stateOf(true, false, 0), true);
  EXPECT_TRUE(plan.up);
  EXPECT_FALSE(plan.putTimingBack);
}

}  // namespace
