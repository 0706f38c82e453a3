// The state of this computer's network interfaces as support reads it: on Linux the output of
// `ip -details -statistics link` (the CAN interfaces' bit timing, state, error counters and
// dropped frames among them).
#pragma once

#include <string>

/// The interfaces' state as text, or a sentence saying why there is none.
std::string interfaceStateText();
