// What this Linux computer shows about its CAN set-up, read from sysfs, procfs and netlink, and
// what the findings are. Reading only: nothing here changes an interface or writes a frame.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "can/can_interface_linux.h"
#include "preflight.h"

/// Where the kernel's trees and the tool's configuration file are, or a test's fake ones.
struct SystemRoots {
  std::string sys = "/sys";
  std::string proc = "/proc";
  std::string dev = "/dev";
  std::string config = kInterfaceConfigPath;
  uid_t configOwner = 0;  // the owner the configuration file must have: root outside tests
};

/// The interface the tool would use, how it was chosen, and what sysfs says of it.
struct InterfaceFacts {
  std::string name;  // empty when the tool would use none
  CanInterfaceRule rule = CanInterfaceRule::kNone;
  InterfaceConfig config;     // what the configuration file said, also when it did not count
  int peakUsbInterfaces = 0;  // interfaces whose driver is peak_usb
  bool exists = false;
  std::string driver;  // the device's driver; empty for a virtual interface
  bool isCan = false;  // link type 280
  bool up = false;
  bool vendorDriver = false;  // PEAK's own character-device driver is loaded
  int peakUsbDevices = 0;     // USB devices of PEAK-System's vendor id
};

/// Reads the facts of the interface the tool's binding would choose.
InterfaceFacts readInterfaceFacts(const SystemRoots& roots);

/// The tool file's owner, group and mode, and how this user stands to them.
struct ToolFileFacts {
  bool exists = false;
  unsigned owner = 0;
  unsigned group = 0;
  unsigned mode = 0;                 // st_mode
  bool root = false;                 // this user is root
  bool inGroup = false;              // this process has the file's group, primary or supplementary
  bool databaseMakesMember = false;  // the account databases give this user the group
  std::string userName;
  std::string ownerName;
  std::string groupName;
};

/// Reads |path|'s owner, group and mode and this process's standing to them.
ToolFileFacts readToolFileFacts(const std::string& path);

/// Why this user may not start |path|, in words, with what to do about it.
std::string whyToolNotRunnable(const std::string& path, const ToolFileFacts& facts);

/// What decides whether a program's file capabilities act when this process starts it.
struct CapabilityGate {
  bool read = false;        // /proc/self/status could be read
  bool noNewPrivs = false;  // no_new_privs: file capabilities are not granted
  uint64_t bounding = 0;    // the capability bounding set (CapBnd)
};

/// Reads NoNewPrivs and CapBnd from |roots|.proc/self/status.
CapabilityGate readCapabilityGate(const SystemRoots& roots);

/// Whether the tool could control the interface and raise its priority.
struct PrivilegeFacts {
  bool root = false;  // this user is root
  std::string toolPath;
  std::string toolHow;      // how the tool was found
  bool toolFound = false;   // found, and this user may start it
  std::string notRunnable;  // a tool file is there that this user may not start: why
  bool capsRead = false;    // the tool file's capabilities could be read
  bool netAdmin = false;    // cap_net_admin permitted and effective on the tool file
  bool sysNice = false;     // cap_sys_nice permitted and effective on the tool file
  bool nosuid = false;  // the tool's file system is mounted nosuid: its capabilities are ignored
  CapabilityGate gate;
  int64_t niceLimit = 0;  // RLIMIT_NICE's soft limit (40 allows nice -20)
};

/// Reads this process's user, RLIMIT_NICE and capability gate, and the tool file: who may run
/// it, its capabilities and its file system's nosuid flag.
PrivilegeFacts readPrivilegeFacts(const std::string& toolOption);

/// What the bus carried while listened to.
struct BusTraffic {
  bool listened = false;
  std::string failure;  // why it could not be listened to
  int milliseconds = 0;
  std::map<uint32_t, int> framesById;  // data and remote frames by identifier (flags kept)
  int errorFrames = 0;
};

/// Listens on |name| for |milliseconds| with a raw socket that only reads.
BusTraffic listenToBus(const std::string& name, int milliseconds);

void judgeInterface(const InterfaceFacts& facts, std::vector<Finding>* findings);
/// |link| is the interface's CAN link as the tool's binding reads it from netlink, or none when
/// netlink did not answer for it.
void judgeCanLink(const InterfaceFacts& interface, const std::optional<CanInterfaceState>& link,
                  std::vector<Finding>* findings);
void judgePrivileges(const PrivilegeFacts& facts, std::vector<Finding>* findings);
/// Why the tool file's capabilities would not act when this user starts it; empty when they
/// would (or when it has none, or the user is root).
std::string capabilitiesBlocked(const PrivilegeFacts& facts);
void judgeBusTraffic(const BusTraffic& traffic, std::vector<Finding>* findings);
