// Which SocketCAN network interface stands for the adapter's first USB channel, and how opening
// the channel brings it up.
#pragma once

#include <cstdint>
#include <string>

/// The interface of the first PEAK USB channel: among the interfaces under |sysfsNet| (normally
/// /sys/class/net) whose device driver is peak_usb, the one with the lowest interface index;
/// "can0" when there is none.
std::string chooseCanInterface(const std::string& sysfsNet);

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
