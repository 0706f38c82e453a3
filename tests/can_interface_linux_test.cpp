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

}  // namespace
