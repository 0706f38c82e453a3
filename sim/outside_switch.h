// The virtual hand's power switch worked from outside: by the guide's power commands in a
// rehearsal. The guide relays each `nodletflash-sim --switch=off|on` to the rehearsal's virtual
// hand, which reads the orders from a descriptor it inherited.
#pragma once

#include <string>

#include "hand_rig.h"

/// The environment variable that names the rehearsal's switch, a socket in a folder only the
/// guide's user can enter; set by the guide for its power commands alone.
inline constexpr const char* kSwitchVariable = "NODLETFLASH_SIM_SWITCH";

/// The lines of the relay's protocol: what the switch asks for, one line, and what the guide
/// answers, "ok" or "error <why>".
inline constexpr const char* kSwitchOff = "off";
inline constexpr const char* kSwitchOn = "on";

/// The orders from descriptor |fd|, one a line: "off", "on", "off-done", "on-done". |stopCheck|
/// is called while it waits, so that a stop signal is acted on.
class OrderReader {
 public:
  OrderReader(int fd, void (*stopCheck)()) : fd_(fd), stopCheck_(stopCheck) {}
  SwitchOrder next(bool wait);

 private:
  int fd_;
  void (*stopCheck_)();
  std::string pending_;
};

/// nodletflash-sim --switch=|position|: asks the rehearsal's guide to switch its virtual hand.
/// Returns the exit status: 0 when the switch was passed on, 1 when it could not be, 2 for a
/// position that is neither "off" nor "on".
int runSwitch(const std::string& position);
