#include "power_cycle_text.h"

#include <vector>

#include "download/power_cycle.h"
#include "power_cycle_words.h"

namespace {

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
  PowerCycleWords words = powerCycleWords(hand, since);
  std::vector<std::string> wordings;
  wordings.push_back("Power cycle " + powerCycleSeconds(since) + " s: " + words.sentence);
  wordings.insert(wordings.end(), words.shorter.begin(), words.shorter.end());
  return fitted(wordings, width);
}

std::string powerCycleInstructions(const HandState& hand) {
  const auto secs = powerCycleSeconds;
  return "Switch the hand off now, keep it off for 5 s, then switch it back on. The "
         "tool gives up if the hand is still on at " +
         secs(hand.offBy) + " s, or not back on by about " + secs(powerOnLimitSeconds(0)) +
         " s less half the time it took to go off (switched off at 10 s: by " +
         secs(powerOnLimitSeconds(10)) + " s). " + powerCycleSourceSentence(hand.source);
}
