// On Windows the guide has no switch relay: a rehearsal's power commands cannot reach its
// virtual hand.
#include <cstdio>

#include "outside_switch.h"

SwitchOrder OrderReader::next(bool /*wait*/) {
  return SwitchOrder::kClosed;
}

int runSwitch(const std::string& position) {
  if (position != kSwitchOff && position != kSwitchOn) {
    std::fprintf(stderr, "nodletflash-sim: --switch is off or on, not \"%s\"\n", position.c_str());
    return 2;
  }
  std::fprintf(stderr,
               "nodletflash-sim: --switch is not available on Windows: a rehearsal's virtual "
               "hand is switched by the virtual person there\n");
  return 1;
}
