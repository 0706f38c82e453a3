#include "power_cycle_text.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "download/power_cycle.h"

namespace {

// How long the tool's instruction asks the hand to stay off.
constexpr double kKeepOffSeconds = 5;

// Whole seconds, rounded down: a deadline shown is never later than the real one. Times come as
// differences of clock readings; a microsecond is allowed for their rounding, so that 0.9999999
// is shown as the 1 s it stands for.
std::string secs(double value) {
  return std::to_string(static_cast<long>(std::floor(value < 0 ? 0 : value + 1e-6)));
}

// The longest of |wordings| (longest first) that fits in |width| columns, one column left free;
// the last one when none fits.
std::string fitted(const std::vector<std::string>& wordings, int width) {
  for (const std::string& text : wordings) {
    if (static_cast<int>(text.size()) <= width - 1) {
      return text;
    }
  }
  return wordings.back();
}

}  // namespace

std::string powerCycleLine(const HandState& hand, double since, int width) {
  const std::string t = secs(since);
  const std::string head = "Power cycle " + t + " s: ";
  const std::string offBy = secs(hand.offBy);
  const std::string onBy = secs(hand.onBy);
  if (hand.source == PowerCycleStep::kClock) {
    const std::string latest = secs(powerOnLimitSeconds(0));
    if (since < hand.offBy) {
      // The hand is not seen: the words hold whether it is still on or already off. Had it
      // gone off by now, it has at least until the limit for going off now.
      const std::string onIfOff = secs(powerOnLimitSeconds(since));
      return fitted({head + "if on, switch the hand OFF by " + offBy + " s; if off 5 s, ON by " +
                         onIfOff + " s.",
                     t + " s: if on, OFF by " + offBy + " s; if off 5 s, ON by " + onIfOff + " s",
                     "OFF by " + offBy + " s, ON by " + onIfOff + " s"},
                    width);
    }
    if (since < powerOnLimitSeconds(0)) {
      return fitted(
          {head + "if the hand is off, switch it ON now, by " + latest + " s at the latest.",
           head + "if off, switch it ON now, by " + latest + " s.",
           t + " s: if off, ON now, by " + latest + " s", "ON by " + latest + " s"},
          width);
    }
    return fitted(
        {head + "past about " + latest + " s the tool gives up; switch the hand on if off.",
         t + " s: past about " + latest + " s the tool gives up.", "past " + latest + " s"},
        width);
  }

  if (!hand.off) {
    if (since < hand.offBy) {
      return fitted({head + "switch the hand OFF now, by " + offBy + " s, or the tool gives up.",
                     head + "switch the hand OFF now, by " + offBy + " s.",
                     t + " s: hand OFF now, by " + offBy + " s", "OFF by " + offBy + " s"},
                    width);
    }
    return fitted({head + "the hand stayed on past " + offBy + " s; the tool gives up.",
                   t + " s: the hand stayed on past " + offBy + " s.", "on past " + offBy + " s"},
                  width);
  }
  const std::string offAt = secs(hand.offAt);
  if (hand.on) {
    const std::string onAt = secs(hand.onAt);
    if (hand.onAt <= hand.onBy) {
      return fitted({head + "the hand is back on at " + onAt + " s (by " + onBy +
                         " s); waiting for the tool.",
                     head + "back on at " + onAt + " s (by " + onBy + " s).",
                     t + " s: back on at " + onAt + " s (by " + onBy + " s)",
                     "on at " + onAt + " s, by " + onBy + " s"},
                    width);
    }
    return fitted(
        {head + "back on at " + onAt + " s, later than " + onBy + " s: the tool may give up.",
         t + " s: back on at " + onAt + " s, after " + onBy + " s.",
         "on at " + onAt + " s, after " + onBy + " s"},
        width);
  }
  if (since >= hand.onBy) {
    return fitted(
        {head + "the hand is not back on by " + onBy + " s; the tool gives up.",
         t + " s: not back on by " + onBy + " s; the tool gives up.", "not on by " + onBy + " s"},
        width);
  }
  double offFor = since - hand.offAt;
  if (offFor < kKeepOffSeconds) {
    const std::string more = secs(std::ceil(kKeepOffSeconds - offFor));
    return fitted(
        {head + "off since " + offAt + " s; keep it off " + more + " s more, then ON by " + onBy +
             " s.",
         head + "keep the hand off " + more + " s more, then ON by " + onBy + " s.",
         t + " s: keep it off " + more + " s, ON by " + onBy + " s", "ON by " + onBy + " s"},
        width);
  }
  return fitted({head + "off since " + offAt + " s; switch it back ON now, by " + onBy + " s.",
                 head + "switch the hand back ON now, by " + onBy + " s.",
                 t + " s: hand ON now, by " + onBy + " s", "ON by " + onBy + " s"},
                width);
}

std::string powerCycleInstructions(const HandState& hand) {
  std::string text =
      "Switch the hand off now, keep it off for 5 s, then switch it back on. The "
      "tool gives up if the hand is still on at " +
      secs(hand.offBy) + " s, or not back on by about " + secs(powerOnLimitSeconds(0)) +
      " s less half the time it took to go off (switched off at 10 s: by " +
      secs(powerOnLimitSeconds(10)) + " s).";
  switch (hand.source) {
    case PowerCycleStep::kBus:
      text += " The guide follows the hand on the bus.";
      break;
    case PowerCycleStep::kVirtualHand:
      text += " The virtual hand tells the guide when it goes off and on.";
      break;
    case PowerCycleStep::kClock:
      text += " The guide cannot see the hand: it counts the seconds only.";
      break;
  }
  return text;
}
