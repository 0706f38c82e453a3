// What the person is told to do during the power cycle, and by when, from what is known of the
// hand.
#pragma once

#include <string>

#include "power_cycle_watch.h"

/// The live line |since| seconds after the instruction: the longest wording that fits in
/// |width| columns; the shorter ones drop words, never the deadline.
std::string powerCycleLine(const HandState& hand, double since, int width);

/// The plain line printed when the instruction comes: what to do and the limits.
std::string powerCycleInstructions(const HandState& hand);
