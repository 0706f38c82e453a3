// Which SocketCAN network interface stands for the adapter's first USB channel, and how opening
// the channel brings it up.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "can/interface_config_linux.h"

/// How the interface was chosen.
enum class CanInterfaceRule {
  kConfigured,  // named in the configuration file
  kPeakUsb,     // the peak_usb interface with the lowest interface index
  kNone,        // neither: no interface is the hand's
};

/// The interface standing for the adapter's channel, and why.
struct CanInterfaceChoice {
  std::string name;  // empty with kNone
  CanInterfaceRule rule = CanInterfaceRule::kNone;
  /// What the configuration file said, also when it did not count.
  InterfaceConfig config;
};

/// The interface named by the configuration file |configPath| when the file counts; otherwise,
/// among the interfaces under |sysfsNet| (normally /sys/class/net) whose device driver is
/// peak_usb, the one with the lowest interface index; otherwise none. Another interface is never
/// taken: it may be some other program's bus. |configOwner| is readInterfaceConfig()'s |owner|.
CanInterfaceChoice chooseCanInterface(const std::string& sysfsNet, const std::string& configPath,
                                      uid_t configOwner = 0);

/// The peak_usb interface with the lowest interface index under |sysfsNet|; empty when none.
std::string firstPeakUsbInterface(const std::string& sysfsNet);

/// What opening the channel finds the interface in.
struct CanInterfaceState {
  bool up = false;
  /// A CAN controller with bit timing; a virtual interface (vcan) has none.
  bool controller = false;
  /// The controller's bit rate in bit/s; 0 when none is set (a controller fresh from its driver).
  uint32_t bitRate = 0;
};

/// The steps that bring the interface up at the wanted bit rate with a freshly reset controller.
struct CanOpenPlan {
  /// Up at another bit rate: someone else runs this bus, so leave it alone and fail.
  bool refuse = false;
  /// Stop it first: stopping and starting resets the controller and drops queued frames.
  bool stop = false;
  /// Set the bit rate while it is down; a controller cannot start without one.
  bool setBitRate = false;
  bool start = false;
};

/// The plan for opening |state| at |bitRate|. A virtual interface is taken as it is.
CanOpenPlan planCanOpen(const CanInterfaceState& state, uint32_t bitRate);
