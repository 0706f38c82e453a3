// The Linux checks against fake sysfs, procfs and /dev trees, and the findings drawn from facts.
#include "linux_facts.h"

#include <gtest/gtest.h>
#include <linux/can/netlink.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "channel_lock_finding.h"

namespace fs = std::filesystem;

namespace {

class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("nodletflash-sys-" + std::to_string(getpid()));
    roots_.sys = (base_ / "sys").string();
    roots_.proc = (base_ / "proc").string();
    roots_.dev = (base_ / "dev").string();
    roots_.config = (base_ / "etc" / "nodletflash.conf").string();
    roots_.configOwner = geteuid();  // the test's user stands in for root
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

TEST_F(FakeSystem, TheConfigurationFileNamesTheInterfaceOnlyWhenItCounts) {
  addInterface("can0", 3, "", false);
  // Without a peak_usb interface nothing is taken unless the configuration file names it.
  InterfaceFacts facts = readInterfaceFacts(roots_);
  EXPECT_EQ(facts.rule, CanInterfaceRule::kNone);
  EXPECT_FALSE(facts.exists);
  std::vector<Finding> findings = judged(facts);
  EXPECT_TRUE(has(findings, Severity::kProblem, "would use no interface"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "(a line \"interface = NAME\")"));

  write(roots_.config, "# the hand's adapter\ninterface = can0\n");
  fs::permissions(roots_.config, fs::perms(0644));
  facts = readInterfaceFacts(roots_);
  EXPECT_EQ(facts.rule, CanInterfaceRule::kConfigured);
  EXPECT_EQ(facts.name, "can0");
  EXPECT_FALSE(facts.up);
  findings = judged(facts);
  EXPECT_TRUE(has(findings, Severity::kOk, "would use can0 (named in /etc/nodletflash.conf)"));
  EXPECT_TRUE(has(findings, Severity::kWarning, "virtual interface"));
  EXPECT_FALSE(has(findings, Severity::kProblem, ""));

  // Writable by its group: it does not count, and nothing is taken in its place, not even
  // a peak_usb interface: the file may have meant another bus.
  fs::permissions(roots_.config, fs::perms(0664));
  addInterface("can1", 5, "peak_usb", true);
  facts = readInterfaceFacts(roots_);
  EXPECT_EQ(facts.rule, CanInterfaceRule::kNone);
  EXPECT_EQ(facts.name, "");
  findings = judged(facts);
  EXPECT_TRUE(has(findings, Severity::kProblem, "/etc/nodletflash.conf does not count: "));
  EXPECT_TRUE(has(findings, Severity::kProblem, "writable by its group"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "not even a PEAK adapter"));
  EXPECT_TRUE(has(findings, Severity::kProblem,
                  "the tool would use no interface: /etc/nodletflash.conf exists but does not "
                  "count"));

  // Counts, but does not say "interface = NAME": the same.
  fs::permissions(roots_.config, fs::perms(0644));
  write(roots_.config, "can0\n");
  findings = judged(readInterfaceFacts(roots_));
  EXPECT_TRUE(has(findings, Severity::kProblem, "Its one setting is a line"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "exists but does not count"));

  // Only comments: it counts and names nothing, so the peak_usb interface is taken.
  write(roots_.config, "# nothing yet\n");
  facts = readInterfaceFacts(roots_);
  EXPECT_EQ(facts.name, "can1");
  EXPECT_TRUE(has(judged(facts), Severity::kOk, "would use can1 (the peak_usb interface"));
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
  CanInterfaceState link;
  link.controller = true;
  link.haveControllerState = true;
  link.controllerState = CAN_STATE_ERROR_ACTIVE;
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
    link.controllerState = c.state;
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

// The tool's file capabilities as they act when this user starts it: not on a nosuid mount, not
// under no_new_privs, and not beyond the bounding set (where the kernel refuses the start).
TEST_F(FakeSystem, FileCapabilitiesThatDoNotAct) {
  write(roots_.proc + "/self/status", "Name:\tbash\nCapBnd:\t000001ffffffefff\nNoNewPrivs:\t1\n");
  CapabilityGate gate = readCapabilityGate(roots_);
  EXPECT_TRUE(gate.read);
  EXPECT_TRUE(gate.noNewPrivs);
  EXPECT_EQ(gate.bounding & (uint64_t{1} << 12), 0u) << "cap_net_admin is bit 12";

  PrivilegeFacts facts;
  facts.toolFound = true;
  facts.toolPath = "/usr/bin/nodletflash";
  facts.netAdmin = true;
  facts.sysNice = true;
  facts.gate.read = true;
  facts.gate.bounding = ~uint64_t{0};
  EXPECT_EQ(capabilitiesBlocked(facts), "");
  std::vector<Finding> findings;
  judgePrivileges(facts, &findings);
  EXPECT_FALSE(has(findings, Severity::kProblem, ""));

  PrivilegeFacts nosuid = facts;
  nosuid.nosuid = true;
  PrivilegeFacts noNewPrivs = facts;
  noNewPrivs.gate.noNewPrivs = true;
  PrivilegeFacts bounded = facts;
  bounded.gate = gate;
  bounded.gate.noNewPrivs = false;
  const std::pair<PrivilegeFacts, const char*> blocked[] = {
      {nosuid, "mounted nosuid"}, {noNewPrivs, "no_new_privs"}, {bounded, "lacks cap_net_admin,"}};
  for (const auto& [blockedFacts, why] : blocked) {
    findings.clear();
    judgePrivileges(blockedFacts, &findings);
    EXPECT_TRUE(has(findings, Severity::kProblem, "file capabilities do not act")) << why;
    EXPECT_TRUE(has(findings, Severity::kProblem, why)) << why;
    EXPECT_FALSE(has(findings, Severity::kOk, "has cap_net_admin")) << why;
    EXPECT_TRUE(has(findings, Severity::kProblem, "stops with status -1")) << why;
    // Root needs none of them.
    PrivilegeFacts root = blockedFacts;
    root.root = true;
    EXPECT_EQ(capabilitiesBlocked(root), "") << why;
  }
}

TEST(LinuxFindingsTest, WhoMayStartTheTool) {
  ToolFileFacts facts;
  facts.exists = true;
  facts.mode = 0100750;
  facts.ownerName = "root";
  facts.groupName = "nodletflash";
  facts.userName = "alice";
  std::string why = whyToolNotRunnable("/usr/bin/nodletflash", facts);
  EXPECT_NE(why.find("/usr/bin/nodletflash (mode 0750, owner root, group nodletflash) may be run "
                     "only by root and the members of group nodletflash, and you (alice) are not"),
            std::string::npos)
      << why;
  EXPECT_NE(why.find("sudo adduser alice nodletflash; then log out and in again"),
            std::string::npos)
      << why;

  facts.databaseMakesMember = true;
  why = whyToolNotRunnable("/usr/bin/nodletflash", facts);
  EXPECT_NE(why.find("you (alice) were made a member of group nodletflash"), std::string::npos)
      << why;
  EXPECT_EQ(why.find("adduser"), std::string::npos) << why;

  // Not a matter of the group: no word of it.
  facts.mode = 0100700;
  why = whyToolNotRunnable("/usr/bin/nodletflash", facts);
  EXPECT_EQ(why.find("group nodletflash,"), std::string::npos) << why;
  EXPECT_NE(why.find("you (alice) may not run /usr/bin/nodletflash (mode 0700"), std::string::npos)
      << why;

  PrivilegeFacts privileges;
  privileges.toolPath = "/usr/bin/nodletflash";
  privileges.notRunnable = "you may not";
  std::vector<Finding> findings;
  judgePrivileges(privileges, &findings);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].severity, Severity::kProblem);
  EXPECT_EQ(findings[0].text, "you may not");
}

// The lock as the tool would take it, in the check's words.
TEST(LinuxFindingsTest, ChannelLock) {
  const std::string name = "/run/nodletflash/can0.lock";
  const auto judge = [&](const ChannelLockProbe& probe) {
    std::vector<Finding> findings;
    judgeChannelLock("can0", name, probe, "process 77 (flock, user mallory)", "mallory", &findings);
    EXPECT_EQ(findings.size(), 1u);
    return findings;
  };
  ChannelLockProbe probe;
  probe.state = ChannelLockState::kFree;
  EXPECT_TRUE(has(judge(probe), Severity::kOk, "no other run holds can0 (" + name + ")"));

  probe.state = ChannelLockState::kHeld;
  probe.holder = 77;
  EXPECT_TRUE(has(judge(probe), Severity::kProblem,
                  "process 77 (flock, user mallory) holds the lock of can0 now"));
  probe.holder = 0;
  EXPECT_TRUE(has(judge(probe), Severity::kProblem, "another process holds the lock of can0"));

  probe.state = ChannelLockState::kUnusable;
  probe.obstacle = ChannelLockObstacle::kUnopenable;
  probe.haveFile = true;
  probe.mode = 0100000;
  probe.error = EACCES;
  std::vector<Finding> findings = judge(probe);
  EXPECT_TRUE(has(findings, Severity::kProblem,
                  name + " (a plain file, mode 0000, owner mallory) cannot be opened by you"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "sudo chmod 0644 " + name));

  probe.obstacle = ChannelLockObstacle::kNotPlainFile;
  for (const auto& [mode, kind] : {std::pair<unsigned, const char*>{0010644, "a FIFO"},
                                   {0040755, "a directory"},
                                   {0120777, "a symbolic link"}}) {
    probe.mode = mode;
    EXPECT_TRUE(has(judge(probe), Severity::kProblem, name + " is " + kind)) << kind;
  }

  // Without its directory, or in one others may write, there is no lock: the tool stops.
  probe = ChannelLockProbe{};
  probe.state = ChannelLockState::kUnusable;
  probe.obstacle = ChannelLockObstacle::kNoDirectory;
  EXPECT_TRUE(has(judge(probe), Severity::kProblem,
                  "/run/nodletflash is missing: the tool takes its lock " + name + " only there"));
  probe.obstacle = ChannelLockObstacle::kUntrustedDirectory;
  probe.haveFile = true;
  probe.mode = 0041777;
  findings = judge(probe);
  EXPECT_TRUE(has(findings, Severity::kProblem,
                  "/run/nodletflash (a directory, mode 1777, owner mallory) may be written by "
                  "accounts that may not run the tool"));
  EXPECT_TRUE(has(findings, Severity::kProblem, "sudo chmod 3770 /run/nodletflash"));
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
