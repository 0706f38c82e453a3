// What the person is told to do during the power cycle, and by when, from what is known of the
// hand: one model for every face, which each words to its own room.
#pragma once

#include <string>
#include <vector>

#include "power_cycle_watch.h"

/// The words for one moment of the power cycle.
struct PowerCycleWords {
  /// The step of the moment: "off-now", "stayed-on", "keep-off", "on-now", "back-on",
  /// "back-on-late", "not-back-on", and with the clock only "clock-off-then-on",
  /// "clock-on-now", "clock-past".
  std::string phase;
  /// The whole instruction, to follow "Power cycle N s: " or to stand alone.
  std::string sentence;
  /// Shorter wordings of the same, shortest last, each a whole line.
  std::vector<std::string> shorter;
  /// Seconds after the instruction by which the person's step must be done; -1 when no step
  /// is awaited (the hand is back on, or the limit has passed).
  double deadline = -1;
};

/// The words |since| seconds after the instruction.
PowerCycleWords powerCycleWords(const HandState& hand, double since);

/// The moment of the power cycle |elapsed| seconds after the instruction on the guide's clock:
/// on the virtual hand's own clock, which may run ahead of the guide's, what it reported has
/// happened by then.
double powerCycleSince(const HandState& hand, double elapsed);

/// Where the guide knows the hand from, as a sentence.
std::string powerCycleSourceSentence(PowerCycleStep::Source source);

/// What happens when a deadline passes.
extern const char* const kPowerCycleDeadlineMeaning;

/// Whole seconds, rounded down: a deadline shown is never later than the real one.
std::string powerCycleSeconds(double value);
