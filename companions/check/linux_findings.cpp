#include <linux/can.h>
#include <linux/can/netlink.h>
#include <linux/capability.h>

#include <cstdio>

#include "can/can_interface_linux.h"
#include "linux_facts.h"

namespace {

constexpr uint32_t kToolBitRate = 1000000;
// The nice value the tool raises its thread to needs an RLIMIT_NICE of 20 - (-20).
constexpr int64_t kNiceLimitNeeded = 40;

void add(std::vector<Finding>* findings, Severity severity, const char* topic, std::string text) {
  findings->push_back(Finding{severity, topic, std::move(text), 0, 0});
}

const char* stateName(uint32_t state) {
  switch (state) {
    case CAN_STATE_ERROR_ACTIVE:
      return "error-active";
    case CAN_STATE_ERROR_WARNING:
      return "error-warning";
    case CAN_STATE_ERROR_PASSIVE:
      return "error-passive";
    case CAN_STATE_BUS_OFF:
      return "bus-off";
    case CAN_STATE_STOPPED:
      return "stopped";
    case CAN_STATE_SLEEPING:
      return "sleeping";
    default:
      return "unknown";
  }
}

std::string kbits(uint32_t bitRate) {
  return std::to_string(bitRate / 1000) + " kbit/s";
}

std::string identifier(uint32_t id) {
  char text[32];
  if ((id & CAN_EFF_FLAG) != 0) {
    std::snprintf(text, sizeof(text), "0x%08X (extended)", id & CAN_EFF_MASK);
  } else {
    std::snprintf(text, sizeof(text), "0x%03X", id & CAN_SFF_MASK);
  }
  std::string out = text;
  return (id & CAN_RTR_FLAG) != 0 ? out + " remote" : out;
}

// What the tool does with a configuration file it cannot trust.
constexpr const char* kRefusesAll =
    "a file that exists but does not count may have meant another bus, so the tool then takes "
    "no interface at all, not even a PEAK adapter, and stops at \"Error initializing CAN\"";

// Why a configuration file that exists does not name the interface, when it does not.
void judgeConfig(const InterfaceConfig& config, const std::string& path,
                 std::vector<Finding>* findings) {
  switch (config.status) {
    case InterfaceConfigStatus::kAbsent:
    case InterfaceConfigStatus::kNamed:
      return;
    case InterfaceConfigStatus::kNothingNamed:
      add(findings, Severity::kOk, "config", path + " names no interface");
      return;
    case InterfaceConfigStatus::kNotTrusted:
    case InterfaceConfigStatus::kUnreadable:
      add(findings, Severity::kProblem, "config",
          path + " does not count: " + config.reason +
              ". The tool reads it only when it and every directory above it belong to root "
              "and nobody else may write them, and everyone who runs the tool may read it; " +
              kRefusesAll);
      return;
    case InterfaceConfigStatus::kMalformed:
      add(findings, Severity::kProblem, "config",
          path + " does not count: " + config.reason +
              ". Its one setting is a line \"interface = NAME\"; '#' starts a comment; " +
              kRefusesAll);
      return;
  }
}

}  // namespace

void judgeInterface(const InterfaceFacts& facts, std::vector<Finding>* findings) {
  const std::string& path = kInterfaceConfigPath;
  judgeConfig(facts.config, path, findings);
  std::string why;
  switch (facts.rule) {
    case CanInterfaceRule::kConfigured:
      why = "named in " + path;
      break;
    case CanInterfaceRule::kPeakUsb:
      why = "the peak_usb interface with the lowest index (" +
            std::to_string(facts.peakUsbInterfaces) + " found)";
      break;
    case CanInterfaceRule::kNone:
      break;
  }
  if (facts.rule == CanInterfaceRule::kNone && !configAllowsFallback(facts.config.status)) {
    add(findings, Severity::kProblem, "interface",
        "the tool would use no interface: " + path +
            " exists but does not count (see above), so it stops at \"Error initializing CAN\" "
            "and touches no interface. Mend the file, or remove it to let the tool take the "
            "first PEAK USB adapter");
    return;
  }
  if (facts.rule == CanInterfaceRule::kNone) {
    std::string text = "the tool would use no interface: none has the peak_usb driver and " + path +
                       " names none" +
                       ", so it stops at \"Error initializing CAN\" and touches no interface";
    if (facts.vendorDriver) {
      text +=
          "; PEAK's own character-device driver (pcan) is loaded instead of the kernel's "
          "peak_usb: unload it (rmmod pcan), load peak_usb (modprobe peak_usb) and keep pcan from "
          "loading again (blacklist it or uninstall PEAK's driver package)";
    } else if (facts.peakUsbDevices > 0) {
      text +=
          "; a PEAK USB device is plugged in but no driver serves it: load peak_usb "
          "(modprobe peak_usb)";
    } else {
      text +=
          ": plug the adapter in and check that the kernel's peak_usb driver loads, or, for "
          "another adapter, name its interface in " +
          path + " (a line \"interface = NAME\")";
    }
    add(findings, Severity::kProblem, "interface", text);
    return;
  }
  if (!facts.exists) {
    add(findings, Severity::kProblem, "interface",
        "the tool would use " + facts.name + " (" + why + "), and there is none");
    return;
  }
  add(findings, Severity::kOk, "interface", "the tool would use " + facts.name + " (" + why + ")");
  if (!facts.isCan) {
    add(findings, Severity::kProblem, "interface",
        facts.name +
            " is not a CAN interface: the tool never stops or starts it, and stops at \"Error "
            "initializing CAN\"");
    return;
  }
  if (facts.driver == "peak_usb") {
    add(findings, Severity::kOk, "driver", "peak_usb, the driver the tool expects");
  } else if (facts.driver.empty()) {
    add(findings, Severity::kWarning, "driver",
        facts.name + " is a virtual interface (no device): good for tests, no hand can be on it");
  } else {
    add(findings, Severity::kWarning, "driver",
        facts.name + " is driven by " + facts.driver +
            ", not peak_usb: the tool will use it, but it was made for PEAK's USB adapter");
  }
  if (facts.vendorDriver) {
    add(findings, Severity::kWarning, "driver",
        "PEAK's own character-device driver (pcan) is loaded as well; the tool does not use it");
  }
}

namespace {

// Whether the tool's open refuses the link as it is: up at another bit rate.
bool toolRefuses(const InterfaceFacts& interface, CanInterfaceState link) {
  link.up = interface.up;
  return planCanOpen(link, kToolBitRate).refuse;
}

}  // namespace

void judgeCanLink(const InterfaceFacts& interface, const std::optional<CanInterfaceState>& read,
                  std::vector<Finding>* findings) {
  const std::string& name = interface.name;
  if (!read) {
    add(findings, Severity::kWarning, "interface",
        name + (interface.up ? " is up" : " is down") +
            "; its bit rate and state could not be read");
    return;
  }
  const CanInterfaceState& link = *read;
  if (!interface.up) {
    add(findings, Severity::kOk, "interface",
        name + " is down: the tool " + (link.controller ? "sets 1 Mbit/s, " : "") +
            "brings it up for the run and takes it down again at the end");
  } else if (!link.controller) {
    add(findings, Severity::kOk, "interface", name + " is up (a virtual interface: no bit rate)");
  } else if (toolRefuses(interface, link)) {
    add(findings, Severity::kProblem, "interface",
        name + " is up at " + kbits(link.bitRate) +
            ": the tool needs 1000 kbit/s and leaves a bus that runs at another rate alone "
            "(\"Error initializing CAN\"). If nothing else uses it: ip link set " +
            name + " down");
  } else {
    add(findings, Severity::kOk, "interface",
        name + " is up at " + (link.bitRate != 0 ? kbits(link.bitRate) : "no bit rate yet"));
  }
  if (!link.controller) {
    return;
  }
  std::string state = "controller ";
  state += link.haveControllerState ? stateName(link.controllerState) : "state unknown";
  if (link.haveErrorCounters) {
    state += ", error counters: transmit " + std::to_string(link.txErrors) + ", receive " +
             std::to_string(link.rxErrors);
  }
  bool troubled = link.haveControllerState && interface.up &&
                  (link.controllerState == CAN_STATE_ERROR_WARNING ||
                   link.controllerState == CAN_STATE_ERROR_PASSIVE ||
                   link.controllerState == CAN_STATE_BUS_OFF);
  add(findings, troubled ? Severity::kWarning : Severity::kOk, "controller",
      troubled ? state +
                     ": the bus has had errors (wiring, termination, or a device at another "
                     "bit rate); the tool's restart clears the state, not the cause"
               : state);
}

void judgePrivileges(const PrivilegeFacts& facts, std::vector<Finding>* findings) {
  if (!facts.toolFound) {
    if (!facts.notRunnable.empty()) {
      add(findings, Severity::kProblem, "tool", facts.notRunnable);
      return;
    }
    add(findings, facts.root ? Severity::kWarning : Severity::kProblem, "privileges",
        facts.toolPath.empty()
            ? "nodletflash is neither next to this program nor on PATH (give --tool=PATH)"
            : "no runnable nodletflash at " + facts.toolPath);
    if (!facts.root) {
      return;
    }
  } else {
    add(findings, Severity::kOk, "tool", facts.toolPath + " (" + facts.toolHow + ")");
  }
  if (facts.root) {
    add(findings, Severity::kOk, "privileges",
        "running as root: the tool may control the interface and raise its priority");
    return;
  }
  std::string blocked = capabilitiesBlocked(facts);
  const std::string grant = "sudo setcap cap_net_admin,cap_sys_nice+ep " + facts.toolPath;
  if (!blocked.empty()) {
    add(findings, Severity::kProblem, "privileges",
        "the tool's file capabilities do not act: " + blocked);
  } else if (facts.netAdmin) {
    add(findings, Severity::kOk, "privileges",
        "the tool has cap_net_admin to control the interface");
  } else {
    add(findings, Severity::kProblem, "privileges",
        "the tool lacks cap_net_admin and you are not root: it cannot restart the interface "
        "(\"Error initializing CAN\"). Run it as root, or: " +
            grant);
  }
  if (facts.sysNice && blocked.empty()) {
    add(findings, Severity::kOk, "priority", "the tool has cap_sys_nice to raise its priority");
  } else if (facts.niceLimit >= kNiceLimitNeeded) {
    add(findings, Severity::kOk, "priority",
        "RLIMIT_NICE " + std::to_string(facts.niceLimit) + " lets the tool raise its priority");
  } else if (!blocked.empty()) {
    add(findings, Severity::kProblem, "priority",
        "RLIMIT_NICE is " + std::to_string(facts.niceLimit) +
            " (40 needed) and cap_sys_nice does not act either: the tool cannot raise its "
            "priority and stops with status -1");
  } else {
    add(findings, Severity::kProblem, "priority",
        "the tool lacks cap_sys_nice and RLIMIT_NICE is " + std::to_string(facts.niceLimit) +
            " (40 needed): it cannot raise its priority and stops with status -1. Run it as "
            "root, or: " +
            grant);
  }
}

std::string capabilitiesBlocked(const PrivilegeFacts& facts) {
  if (facts.root || !(facts.netAdmin || facts.sysNice)) {
    return "";
  }
  if (facts.nosuid) {
    return facts.toolPath +
           " is on a file system mounted nosuid, where the kernel ignores file capabilities: "
           "the tool cannot restart the interface (\"Error initializing CAN\"). Install it on "
           "a file system mounted without nosuid, or run it as root";
  }
  if (facts.gate.noNewPrivs) {
    return "this session runs with no_new_privs (NoNewPrivs is 1 in /proc/self/status), under "
           "which the kernel grants no file capabilities to the programs it starts: the tool "
           "cannot restart the interface (\"Error initializing CAN\"). Run it from a login "
           "shell that was not started so (a service with NoNewPrivileges=yes, a sandbox or a "
           "container sets it), or as root";
  }
  std::string missing;
  const auto need = [&](bool wanted, int bit, const char* name) {
    if (wanted && (facts.gate.bounding & (uint64_t{1} << bit)) == 0) {
      missing += (missing.empty() ? "" : " and ") + std::string(name);
    }
  };
  if (facts.gate.read) {
    need(facts.netAdmin, CAP_NET_ADMIN, "cap_net_admin");
    need(facts.sysNice, CAP_SYS_NICE, "cap_sys_nice");
  }
  if (!missing.empty()) {
    return "the capability bounding set of this session lacks " + missing +
           ", which the tool's file asks for, so the kernel refuses to start the tool "
           "(\"Operation not permitted\"). Run it outside this container or sandbox, or as root";
  }
  return "";
}

void judgeBusTraffic(const BusTraffic& traffic, std::vector<Finding>* findings) {
  if (!traffic.listened) {
    add(findings, Severity::kWarning, "bus", "not listened to: " + traffic.failure);
    return;
  }
  std::string span = std::to_string(traffic.milliseconds) + " ms";
  if (traffic.framesById.empty()) {
    add(findings, Severity::kOk, "bus", "no frames in " + span);
  } else {
    std::string heard;
    for (const auto& [id, count] : traffic.framesById) {
      char rate[32];
      std::snprintf(rate, sizeof(rate), "%.1f", count * 1000.0 / traffic.milliseconds);
      heard += (heard.empty() ? "" : ", ") + identifier(id) + ": " + std::to_string(count) +
               " frames (" + rate + "/s)";
    }
    add(findings, Severity::kProblem, "bus",
        "frames in " + span + ": " + heard +
            ". Every frame counts as the node's go-ahead, so other traffic corrupts the download: "
            "stop whatever sends them (with the hand off, nothing should)");
  }
  if (traffic.errorFrames > 0) {
    add(findings, Severity::kWarning, "bus",
        std::to_string(traffic.errorFrames) + " error frames in " + span);
  }
}
