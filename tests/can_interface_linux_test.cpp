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
  EXPECT_EQ(chooseCanInterface(sysfs.net()), "can2");
}

TEST(CanInterfaceLinuxTest, FallsBackToCan0) {
  FakeSysfs sysfs;
  sysfs.add("lo", 1, "");
  sysfs.add("can3", 3, "gs_usb");
  EXPECT_EQ(chooseCanInterface(sysfs.net()), "can0");
  EXPECT_EQ(chooseCanInterface("/nonexistent/sys/class/net"), "can0");
}

}  // namespace
