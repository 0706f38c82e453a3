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

/// The interface named by the configuration file |configPath| when the file counts; none when
/// the file exists but does not count (configAllowsFallback() is false: another owner, writable
/// by others, unreadable, malformed); otherwise, among the interfaces under |sysfsNet| (normally
/// /sys/class/net) whose device driver is peak_usb, the one with the lowest interface index;
/// otherwise none. Another interface is never taken: it may be some other program's bus.
/// |configOwner| is readInterfaceConfig()'s |owner|.
CanInterfaceChoice chooseCanInterface(const std::string& sysfsNet, const std::string& configPath,
                                      uid_t configOwner = 0);

/// The peak_usb interface with the lowest interface index under |sysfsNet|; empty when none.
std::string firstPeakUsbInterface(const std::string& sysfsNet);

/// Whether a configuration file found in |status| lets the tool fall back to the first PEAK USB
/// interface: only when there is no file, or a file that counts and names nothing.
bool configAllowsFallback(InterfaceConfigStatus status);

/// A CAN controller's bit timing as the kernel keeps it (its struct can_bittiming).
struct CanBitTiming {
  uint32_t bitRate = 0;      // bit/s
  uint32_t samplePoint = 0;  // tenths of a percent
  uint32_t tq = 0;           // the time quantum in ns
  uint32_t propSeg = 0;
  uint32_t phaseSeg1 = 0;
  uint32_t phaseSeg2 = 0;
  uint32_t sjw = 0;
  uint32_t brp = 0;
};

/// What opening the channel finds the interface in.
struct CanInterfaceState {
  bool up = false;
  /// A CAN interface (the kernel's link type ARPHRD_CAN: a controller, vcan, vxcan, slcan).
  bool can = false;
  /// A CAN controller with bit timing; a virtual interface (vcan) has none.
  bool controller = false;
  /// The controller's bit rate in bit/s; 0 when none is set (a controller fresh from its driver).
  uint32_t bitRate = 0;
  /// The whole bit timing, when a bit rate is set.
  CanBitTiming timing;
  /// The controller takes only bit rates from a fixed list, no time quanta and segments.
  bool fixedBitRates = false;
  /// The controller's state (the kernel's CAN_STATE_* value) and error counters, when reported.
  bool haveControllerState = false;
  uint32_t controllerState = 0;
  bool haveErrorCounters = false;
  uint16_t txErrors = 0;
  uint16_t rxErrors = 0;
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

/// What puts the interface back as a run found it, whatever the run did to it meanwhile.
struct CanRestorePlan {
  /// Up or down at the end, as found.
  bool up = false;
  /// The run sets the bit rate: stop the interface and set |timing| again before |up| applies.
  bool putTimingBack = false;
  /// The timing as it is sent back: the time quantum and segments where the controller takes
  /// them (they give back exactly the timing found), else the bit rate alone.
  CanBitTiming timing;
};

/// The restore for an interface found in |found| by a run that sets the bit rate when
/// |setsBitRate|. A controller that had no bit rate keeps the one the run set: there is nothing
/// to put back.
CanRestorePlan planCanRestore(const CanInterfaceState& found, bool setsBitRate);
