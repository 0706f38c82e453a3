// The Linux checks against fake sysfs, procfs and /dev trees, and the findings drawn from facts.
#include "linux_facts.h"

#include <gtest/gtest.h>
#include <linux/can/netlink.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("nodletflash-sys-" + std::to_string(getpid()));
    roots_.sys = (base_ / "sys").string();
    roots_.proc = (base_ / "proc").string();
    roots_.dev = (base_ / "dev").string();
    for (const std::string& dir :
         {roots_.sys + "/class/net", roots_.proc, roots_.dev, roots_.sys + "/bus/usb/devices"}) {
      fs::create_directories(dir);
    }
    write(roots_.proc + "/modules", "can_raw 20480 0 - Live 0x0\n");
  }
  void TearDown() override { fs::remove_all(base_); }

  static void write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
  }

  // An interface as sysfs shows it; |driver| empty for a virtual one.
  void addInterface(const std::string& name, int index, const std::string& driver, bool up) {
    std::string dir = roots_.sys + "/class/net/" + name;
    write(dir + "/ifindex", std::to_string(index) + "\n");
    write(dir + "/type", "280\n");
    write(dir + "/flags", up ? "0x40c1\n" : "0x80\n");
    if (!driver.empty()) {
      std::string device = roots_.sys + "/devices/usb1/" + name;
      fs::create_directories(device);
      fs::create_directories(roots_.sys + "/bus/usb/drivers/" + driver);
      fs::create_directory_symlink(device, dir + "/device");
      fs::create_directory_symlink(roots_.sys + "/bus/usb/drivers/" + driver, device + "/driver");
    }
  }

  fs::path base_;
  SystemRoots roots_;
};

std::vector<Finding> judged(const InterfaceFacts& facts) {
  std::vector<Finding> findings;
  judgeInterface(facts, &findings);
  return findings;
}

bool has(const std::vector<Finding>& findings, Severity severity, const std::string& text) {
  return std::any_of(findings.begin(), findings.end(), [&](const Finding& f) {
    return f.severity == severity && f.text.find(text) != std::string::npos;
  });
}

TEST_F(FakeSystem, ThePeakInterfaceWithTheLowestIndex) {
  addInterface("can0", 7, "peak_usb", false);
  addInterface("can1", 4, "peak_usb", true);
  addInterface("can2", 2, "gs_usb", true);
  InterfaceFacts facts = readInterfaceFacts(roots_);
  EXPECT_EQ(facts.name, "can1");
  EXPECT_EQ(facts.peakUsbInterfaces, 2);
  EXPECT_TRUE(facts.exists);
  EXPECT_TRUE(facts.isCan);
  EXPECT_TRUE(facts.up);
  EXPECT_EQ(facts.driver, "peak_usb");
  EXPECT_FALSE(facts.vendorDriver);
  std::vector<Finding> findings = judged(facts);
  EXPECT_TRUE(has(findings, Severity::kOk,
                  "would use can1 (the peak_usb interface with the lowest "
                  "index (2 found))"));
  EXPECT_TRUE(has(findings, Severity::kOk, "peak_usb, the driver the tool expects"));
}

TEST_F(FakeSystem, VirtualInterfaceDown) {
  // Without a peak_usb interface nothing is taken unless the configuration file names it.
  addInterface("can0", 3, "", false);
  InterfaceFacts facts = readInterfaceFacts(roots_);
  EXPECT_EQ(facts.name, "");
  EXPECT_FALSE(facts.exists);
  facts.name = "can0";  // as if named in the file
  facts.isCan = true;
  facts.exists = true;
  EXPECT_TRUE(has(judged(facts), Severity::kWarning, "virtual interface"));
}

TEST_F(FakeSystem, VendorDriverInsteadOfTheKernels) {
  write(roots_.proc + "/modules", "can_raw 20480 0 - Live 0x0\npcan 294912 0 - Live 0x0\n");
  write(roots_.dev + "/pcanusb32", "");
  InterfaceFacts facts = readInterfaceFacts(roots_);
  EXPECT_FALSE(facts.exists);
  EXPECT_TRUE(facts.vendorDriver);
  std::vector<Finding> findings = judged(facts);
  EXPECT_TRUE(has(findings, Severity::kProblem, "rmmod pcan"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "modprobe peak_usb"));
}

TEST_F(FakeSystem, PeakDeviceWithoutDriverOrNothingAtAll) {
  EXPECT_TRUE(has(judged(readInterfaceFacts(roots_)), Severity::kProblem, "plug the adapter in"));
  write(roots_.sys + "/bus/usb/devices/1-1/idVendor", "0c72\n");
  InterfaceFacts facts = readInterfaceFacts(roots_);
  EXPECT_EQ(facts.peakUsbDevices, 1);
  EXPECT_TRUE(has(judged(facts), Severity::kProblem, "no driver serves it"));
}

TEST(LinuxFindingsTest, BitRateAndControllerState) {
  InterfaceFacts up;
  up.name = "can0";
  up.up = true;
  CanLinkFacts link;
  link.read = true;
  link.controller = true;
  link.haveState = true;
  link.state = CAN_STATE_ERROR_ACTIVE;
  struct Case {
    bool up;
    uint32_t bitRate;
    uint32_t state;
    Severity severity;
    const char* text;
  };
  const Case cases[] = {
      {true, 500000, CAN_STATE_ERROR_ACTIVE, Severity::kProblem, "up at 500 kbit/s"},
      {true, 1000000, CAN_STATE_ERROR_ACTIVE, Severity::kOk, "up at 1000 kbit/s"},
      {false, 500000, CAN_STATE_STOPPED, Severity::kOk, "sets 1 Mbit/s"},
      {false, 0, CAN_STATE_STOPPED, Severity::kOk, "is down"},
      {true, 1000000, CAN_STATE_BUS_OFF, Severity::kWarning, "bus-off"},
      {true, 1000000, CAN_STATE_ERROR_PASSIVE, Severity::kWarning, "error-passive"},
  };
  for (const Case& c : cases) {
    up.up = c.up;
    link.bitRate = c.bitRate;
    link.state = c.state;
    std::vector<Finding> findings;
    judgeCanLink(up, link, &findings);
    EXPECT_TRUE(has(findings, c.severity, c.text)) << c.text;
    bool problem = has(findings, Severity::kProblem, "");
    EXPECT_EQ(problem, c.severity == Severity::kProblem) << c.text;
  }
}

TEST(LinuxFindingsTest, Privileges) {
  PrivilegeFacts facts;
  facts.toolFound = true;
  facts.toolPath = "/usr/bin/nodletflash";
  facts.toolHow = "on PATH";
  facts.capsRead = true;
  std::vector<Finding> findings;
  judgePrivileges(facts, &findings);
  EXPECT_TRUE(has(findings, Severity::kProblem, "lacks cap_net_admin"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "RLIMIT_NICE is 0"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "setcap cap_net_admin,cap_sys_nice+ep /usr/bin/"));

  facts.netAdmin = true;
  facts.niceLimit = 40;
  findings.clear();
  judgePrivileges(facts, &findings);
  EXPECT_FALSE(has(findings, Severity::kProblem, ""));

  facts = PrivilegeFacts{};
  facts.root = true;
  facts.toolFound = true;
  findings.clear();
  judgePrivileges(facts, &findings);
  EXPECT_FALSE(has(findings, Severity::kProblem, ""));

  facts.root = false;
  facts.toolFound = false;
  findings.clear();
  judgePrivileges(facts, &findings);
  EXPECT_TRUE(has(findings, Severity::kProblem, "--tool"));
}

TEST(LinuxFindingsTest, BusTraffic) {
  BusTraffic traffic;
  traffic.listened = true;
  traffic.milliseconds = 500;
  std::vector<Finding> findings;
  judgeBusTraffic(traffic, &findings);
  EXPECT_TRUE(has(findings, Severity::kOk, "no frames in 500 ms"));

  traffic.framesById[0x123] = 1000;
  traffic.framesById[0x18FF0001u | 0x80000000u] = 5;
  traffic.errorFrames = 2;
  findings.clear();
  judgeBusTraffic(traffic, &findings);
  EXPECT_TRUE(has(findings, Severity::kProblem, "0x123: 1000 frames (2000.0/s)"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "0x18FF0001 (extended): 5 frames (10.0/s)"));
  EXPECT_TRUE(has(findings, Severity::kWarning, "2 error frames"));

  traffic = BusTraffic{};
  traffic.failure = "no interface can0";
  findings.clear();
  judgeBusTraffic(traffic, &findings);
  EXPECT_TRUE(has(findings, Severity::kWarning, "not listened to: no interface can0"));
}

}  // namespace

namespace {

// The tool file's capabilities, set as an administrator would set them.
TEST(PrivilegeFactsTest, ReadsTheToolFilesCapabilities) {
  if (geteuid() != 0 || std::system("command -v setcap >/dev/null") != 0) {
    GTEST_SKIP() << "needs root and setcap";
  }
  fs::path tool = fs::temp_directory_path() / ("nodletflash-caps-" + std::to_string(getpid()));
  fs::copy_file("/bin/true", tool);
  PrivilegeFacts plain = readPrivilegeFacts(tool.string());
  EXPECT_TRUE(plain.toolFound);
  EXPECT_EQ(plain.toolHow, "given by --tool");
  EXPECT_FALSE(plain.netAdmin);
  EXPECT_FALSE(plain.sysNice);
  ASSERT_EQ(std::system(("setcap cap_net_admin+ep " + tool.string()).c_str()), 0);
  PrivilegeFacts netAdmin = readPrivilegeFacts(tool.string());
  EXPECT_TRUE(netAdmin.netAdmin);
  EXPECT_FALSE(netAdmin.sysNice);
  // Permitted but not effective: the tool would have to raise it itself, and it does not.
  ASSERT_EQ(std::system(("setcap cap_net_admin,cap_sys_nice+p " + tool.string()).c_str()), 0);
  PrivilegeFacts permittedOnly = readPrivilegeFacts(tool.string());
  EXPECT_FALSE(permittedOnly.netAdmin);
  EXPECT_FALSE(permittedOnly.sysNice);
  fs::remove(tool);
  EXPECT_FALSE(readPrivilegeFacts(tool.string()).toolFound);
}

}  // namespace
