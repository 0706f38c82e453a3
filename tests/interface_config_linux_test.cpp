#include "can/interface_config_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "can/can_interface_linux.h"

namespace fs = std::filesystem;

namespace {

// A private directory under /tmp holding an etc/ of the test's own, owned by the test's user,
// who stands in for root.
class ConfigDir {
 public:
  ConfigDir() {
    char name[] = "/tmp/nodletflash-config-XXXXXX";
    root_ = mkdtemp(name);
    chmod(root_.c_str(), 0755);
    fs::create_directory(etc());
    chmod(etc().c_str(), 0755);
  }
  ~ConfigDir() { fs::remove_all(root_); }
  ConfigDir(const ConfigDir&) = delete;
  ConfigDir& operator=(const ConfigDir&) = delete;

  std::string etc() const { return root_ + "/etc"; }
  std::string file() const { return etc() + "/nodletflash.conf"; }
  std::string root() const { return root_; }

  void write(const std::string& text, mode_t mode = 0644) const {
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << text;
    chmod(file().c_str(), mode);
  }
  InterfaceConfig read() const { return readInterfaceConfig(file(), geteuid()); }

 private:
  std::string root_;
};

// Makes |path| belong to an account that is neither root nor the test's user, as far as the
// verdict goes; returns the |owner| to judge with.
uid_t giveAway(const std::string& path) {
  if (geteuid() == 0) {
    EXPECT_EQ(chown(path.c_str(), 4242, static_cast<gid_t>(-1)), 0);
    return 0;
  }
  return geteuid() + 1;  // the test's own file is then nobody's who counts
}

TEST(InterfaceConfigTest, NamesOneInterfaceAmongCommentsAndBlankLines) {
  ConfigDir dir;
  dir.write(
      "# The hand's adapter, named by the udev rule in /etc/udev/rules.d.\n"
      "\n"
      "   interface\t=  pcan_hand   # the one on the left\r\n"
      "  # interface = can0\n");
  InterfaceConfig config = dir.read();
  EXPECT_EQ(config.status, InterfaceConfigStatus::kNamed) << config.reason;
  EXPECT_EQ(config.interfaceName, "pcan_hand");

  dir.write("interface=can1");  // no spaces, no final newline
  config = dir.read();
  EXPECT_EQ(config.status, InterfaceConfigStatus::kNamed) << config.reason;
  EXPECT_EQ(config.interfaceName, "can1");

  dir.write("# interface = can0\n\n");
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kNothingNamed);
  dir.write("");
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kNothingNamed);
}

TEST(InterfaceConfigTest, NoFileNamesNothing) {
  ConfigDir dir;
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kAbsent);
  EXPECT_EQ(readInterfaceConfig(dir.root() + "/missing/nodletflash.conf", geteuid()).status,
            InterfaceConfigStatus::kAbsent);
  EXPECT_EQ(readInterfaceConfig("nodletflash.conf", geteuid()).status,
            InterfaceConfigStatus::kUnreadable);
}

TEST(InterfaceConfigTest, LinesThatDoNotNameExactlyOneInterfaceAreRefusedWithTheirNumber) {
  ConfigDir dir;
  struct Case {
    const char* text;
    int line;
  };
  const Case cases[] = {
      {"interface = can0\ninterface = can1\n", 2},        // two names
      {"interface = can0\n# ok\ninterface = can0\n", 3},  // the same one twice
      {"\ninterface can0\n", 2},                          // no '='
      {"bitrate = 500000\n", 1},                          // no such setting
      {"interface =\n", 1},                               // no name
      {"interface = can 0\n", 1},                         // a space in the name
      {"interface = ../../x\n", 1},                       // a path, not a name
      {"interface = can0:1\n", 1},                        // an alias
      {"interface = averyveryverylongname\n", 1},         // longer than IFNAMSIZ - 1
      {"interface = ..\n", 1},
      {"\x7f"
       "ELF\x02\x01\x01\n",
       1},  // garbage
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    dir.write(c.text);
    InterfaceConfig config = dir.read();
    EXPECT_EQ(config.status, InterfaceConfigStatus::kMalformed);
    EXPECT_EQ(config.line, c.line);
    EXPECT_NE(config.reason.find("line " + std::to_string(c.line)), std::string::npos)
        << config.reason;
  }
  // A NUL inside a name: the file holds it, so the name must not be cut short at it.
  std::string withNul("interface = ca\0n0\n", 18);
  std::ofstream(dir.file(), std::ios::binary | std::ios::trunc) << withNul;
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kMalformed);

  dir.write(std::string(70000, '#'));
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kMalformed);
}

TEST(InterfaceConfigTest, CountsOnlyWhenNobodyButRootCouldHaveWrittenIt) {
  ConfigDir dir;
  const std::string named = "interface = pcan_hand\n";
  for (mode_t mode : {0664, 0646, 0666}) {
    SCOPED_TRACE(mode);
    dir.write(named, mode);
    InterfaceConfig config = dir.read();
    EXPECT_EQ(config.status, InterfaceConfigStatus::kNotTrusted);
    EXPECT_TRUE(config.interfaceName.empty());
    EXPECT_NE(config.reason.find("writable"), std::string::npos) << config.reason;
  }
  dir.write(named, 0600);  // unreadable by others changes nothing
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kNamed);

  // A directory above it that its group or everyone may write.
  for (mode_t mode : {0775, 0757, 0777}) {
    SCOPED_TRACE(mode);
    chmod(dir.etc().c_str(), mode);
    InterfaceConfig config = dir.read();
    EXPECT_EQ(config.status, InterfaceConfigStatus::kNotTrusted);
    EXPECT_NE(config.reason.find(dir.etc() + " is writable"), std::string::npos) << config.reason;
  }
  chmod(dir.root().c_str(), 0777);
  chmod(dir.etc().c_str(), 0755);
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kNotTrusted);
  // Sticky, as /tmp is: nobody may move away what is ours there.
  chmod(dir.root().c_str(), 01777);
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kNamed);
  chmod(dir.root().c_str(), 0755);

  // The file, or a directory above it, owned by another account.
  {
    ConfigDir other;
    other.write(named);
    uid_t owner = giveAway(other.file());
    InterfaceConfig config = readInterfaceConfig(other.file(), owner);
    EXPECT_EQ(config.status, InterfaceConfigStatus::kNotTrusted);
    EXPECT_NE(config.reason.find("not owned by root"), std::string::npos) << config.reason;
  }
  {
    ConfigDir other;
    other.write(named);
    uid_t owner = giveAway(other.etc());
    EXPECT_EQ(readInterfaceConfig(other.file(), owner).status, InterfaceConfigStatus::kNotTrusted);
  }
}

TEST(InterfaceConfigTest, NeitherALinkNorAnythingButARegularFileCounts) {
  ConfigDir dir;
  std::string target = dir.etc() + "/elsewhere.conf";
  std::ofstream(target) << "interface = pcan_hand\n";
  fs::create_symlink(target, dir.file());
  InterfaceConfig config = dir.read();
  EXPECT_EQ(config.status, InterfaceConfigStatus::kNotTrusted);
  EXPECT_NE(config.reason.find("symbolic link"), std::string::npos) << config.reason;

  // A directory on the way that is a link.
  fs::remove(dir.file());
  std::ofstream(dir.file()) << "interface = pcan_hand\n";
  fs::create_directory_symlink(dir.etc(), dir.root() + "/linked");
  EXPECT_EQ(readInterfaceConfig(dir.root() + "/linked/nodletflash.conf", geteuid()).status,
            InterfaceConfigStatus::kNotTrusted);

  // A FIFO with no writer must not hang the reader; a directory is no file.
  fs::remove(dir.file());
  ASSERT_EQ(mkfifo(dir.file().c_str(), 0644), 0);
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kUnreadable);
  fs::remove(dir.file());
  fs::create_directory(dir.file());
  EXPECT_EQ(dir.read().status, InterfaceConfigStatus::kUnreadable);
}

// A stand-in for /sys/class/net whose interfaces have the drivers the test names.
void addInterface(const fs::path& sys, const std::string& name, int index,
                  const std::string& driver) {
  fs::path net = sys / "class/net" / name;
  fs::create_directories(net);
  std::ofstream(net / "ifindex") << index << "\n";
  fs::create_directories(sys / "devices" / name);
  fs::create_directories(sys / "drivers" / driver);
  fs::create_directory_symlink(sys / "devices" / name, net / "device");
  fs::create_directory_symlink(sys / "drivers" / driver, sys / "devices" / name / "driver");
}

TEST(CanInterfaceChoiceTest, TheFileFirstThenPeakUsbThenNothing) {
  ConfigDir dir;
  fs::path sys = dir.root() + "/sys";
  std::string net = (sys / "class/net").string();
  addInterface(sys, "can0", 3, "kvaser_pci");  // a board's own controller: another bus

  CanInterfaceChoice choice = chooseCanInterface(net, dir.file(), geteuid());
  EXPECT_EQ(choice.rule, CanInterfaceRule::kNone);
  EXPECT_EQ(choice.name, "");
  EXPECT_EQ(choice.config.status, InterfaceConfigStatus::kAbsent);

  addInterface(sys, "can1", 9, "peak_usb");
  addInterface(sys, "can2", 6, "peak_usb");
  choice = chooseCanInterface(net, dir.file(), geteuid());
  EXPECT_EQ(choice.rule, CanInterfaceRule::kPeakUsb);
  EXPECT_EQ(choice.name, "can2");

  // Named in the file, even an interface that is not there (opening it fails later).
  dir.write("interface = can0\n");
  choice = chooseCanInterface(net, dir.file(), geteuid());
  EXPECT_EQ(choice.rule, CanInterfaceRule::kConfigured);
  EXPECT_EQ(choice.name, "can0");
  dir.write("interface = pcan_hand\n");
  EXPECT_EQ(chooseCanInterface(net, dir.file(), geteuid()).name, "pcan_hand");

  // A file that exists but does not count takes nothing, not even the first PEAK adapter: it
  // may have meant another bus. It says why.
  dir.write("interface = can0\n", 0666);
  choice = chooseCanInterface(net, dir.file(), geteuid());
  EXPECT_EQ(choice.rule, CanInterfaceRule::kNone);
  EXPECT_EQ(choice.name, "");
  EXPECT_EQ(choice.config.status, InterfaceConfigStatus::kNotTrusted);
  EXPECT_FALSE(choice.config.reason.empty());
  dir.write("interface = can0\ninterface = can1\n");
  choice = chooseCanInterface(net, dir.file(), geteuid());
  EXPECT_EQ(choice.config.status, InterfaceConfigStatus::kMalformed);
  EXPECT_EQ(choice.name, "");

  // One that counts and names nothing is as none.
  dir.write("# not yet\n");
  choice = chooseCanInterface(net, dir.file(), geteuid());
  EXPECT_EQ(choice.rule, CanInterfaceRule::kPeakUsb);
  EXPECT_EQ(choice.name, "can2");

  fs::remove_all(sys / "class/net/can1");
  fs::remove_all(sys / "class/net/can2");
  choice = chooseCanInterface(net, dir.file(), geteuid());
  EXPECT_EQ(choice.rule, CanInterfaceRule::kNone);
  EXPECT_EQ(choice.name, "");
}

}  // namespace
