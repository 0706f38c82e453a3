#include "power_cycle_words.h"

#include <algorithm>
#include <cmath>

#include "download/power_cycle.h"

namespace {

// How long the tool's instruction asks the hand to stay off.
constexpr double kKeepOffSeconds = 5;

PowerCycleWords words(const char* phase, std::string sentence, std::vector<std::string> shorter,
                      double deadline) {
  return PowerCycleWords{phase, std::move(sentence), std::move(shorter), deadline};
}

}  // namespace

const char* const kPowerCycleDeadlineMeaning =
    "If it is not done by then, the tool gives up; nothing of the download will have been sent "
    "to the module.";

// Times come as differences of clock readings; a microsecond is allowed for their rounding, so
// that 0.9999999 is shown as the 1 s it stands for.
std::string powerCycleSeconds(double value) {
  return std::to_string(static_cast<long>(std::floor(value < 0 ? 0 : value + 1e-6)));
}

double powerCycleSince(const HandState& hand, double elapsed) {
  return std::max(elapsed, hand.on ? hand.onAt : hand.off ? hand.offAt : 0.0);
}

std::string powerCycleSourceSentence(PowerCycleStep::Source source) {
  switch (source) {
    case PowerCycleStep::kBus:
      return "The guide follows the hand on the bus.";
    case PowerCycleStep::kVirtualHand:
      return "The virtual hand tells the guide when it goes off and on.";
    case PowerCycleStep::kClock:
      break;
  }
  return "The guide cannot see the hand: it counts the seconds only.";
}

PowerCycleWords powerCycleWords(const HandState& hand, double since) {
  const auto secs = powerCycleSeconds;
  const std::string t = secs(since);
  const std::string head = "Power cycle " + t + " s: ";
  const std::string offBy = secs(hand.offBy);
  const std::string onBy = secs(hand.onBy);
  if (hand.source == PowerCycleStep::kClock) {
    const double latestAt = powerOnLimitSeconds(0);
    const std::string latest = secs(latestAt);
    if (since < hand.offBy) {
      // The hand is not seen: the words hold whether it is still on or already off. Had it
      // gone off by now, it has at least until the limit for going off now.
      const std::string onIfOff = secs(powerOnLimitSeconds(since));
      return words(
          "clock-off-then-on",
          "if on, switch the hand OFF by " + offBy + " s; if off 5 s, ON by " + onIfOff + " s.",
          {t + " s: if on, OFF by " + offBy + " s; if off 5 s, ON by " + onIfOff + " s",
           "OFF by " + offBy + " s, ON by " + onIfOff + " s"},
          hand.offBy);
    }
    if (since < latestAt) {
      return words("clock-on-now",
                   "if the hand is off, switch it ON now, by " + latest + " s at the latest.",
                   {head + "if off, switch it ON now, by " + latest + " s.",
                    t + " s: if off, ON now, by " + latest + " s", "ON by " + latest + " s"},
                   latestAt);
    }
    return words(
        "clock-past", "past about " + latest + " s the tool gives up; switch the hand on if off.",
        {t + " s: past about " + latest + " s the tool gives up.", "past " + latest + " s"}, -1);
  }

  if (!hand.off) {
    if (since < hand.offBy) {
      return words("off-now", "switch the hand OFF now, by " + offBy + " s, or the tool gives up.",
                   {head + "switch the hand OFF now, by " + offBy + " s.",
                    t + " s: hand OFF now, by " + offBy + " s", "OFF by " + offBy + " s"},
                   hand.offBy);
    }
    return words("stayed-on", "the hand stayed on past " + offBy + " s; the tool gives up.",
                 {t + " s: the hand stayed on past " + offBy + " s.", "on past " + offBy + " s"},
                 -1);
  }
  const std::string offAt = secs(hand.offAt);
  if (hand.on) {
    const std::string onAt = secs(hand.onAt);
    if (hand.onAt <= hand.onBy) {
      return words(
          "back-on",
          "the hand is back on at " + onAt + " s (by " + onBy + " s); waiting for the tool.",
          {head + "back on at " + onAt + " s (by " + onBy + " s).",
           t + " s: back on at " + onAt + " s (by " + onBy + " s)",
           "on at " + onAt + " s, by " + onBy + " s"},
          -1);
    }
    return words("back-on-late",
                 "back on at " + onAt + " s, later than " + onBy + " s: the tool may give up.",
                 {t + " s: back on at " + onAt + " s, after " + onBy + " s.",
                  "on at " + onAt + " s, after " + onBy + " s"},
                 -1);
  }
  if (since >= hand.onBy) {
    return words(
        "not-back-on", "the hand is not back on by " + onBy + " s; the tool gives up.",
        {t + " s: not back on by " + onBy + " s; the tool gives up.", "not on by " + onBy + " s"},
        -1);
  }
  double offFor = since - hand.offAt;
  if (offFor < kKeepOffSeconds) {
    const std::string more = secs(std::ceil(kKeepOffSeconds - offFor));
    return words(
        "keep-off",
        "off since " + offAt + " s; keep it off " + more + " s more, then ON by " + onBy + " s.",
        {head + "keep the hand off " + more + " s more, then ON by " + onBy + " s.",
         t + " s: keep it off " + more + " s, ON by " + onBy + " s", "ON by " + onBy + " s"},
        hand.onBy);
  }
  return words("on-now", "off since " + offAt + " s; switch it back ON now, by " + onBy + " s.",
               {head + "switch the hand back ON now, by " + onBy + " s.",
                t + " s: hand ON now, by " + onBy + " s", "ON by " + onBy + " s"},
               hand.onBy);
}
