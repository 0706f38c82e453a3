#include "power_cycle_watch.h"

#include <cstdlib>

#include "download/power_cycle.h"

HandState handAfter(HandState hand, const PowerCycleStep& step, double askedAt) {
  switch (step.phase) {
    case PowerCycleStep::kAsked:
      hand = HandState();
      hand.source = step.source;
      hand.offBy = step.offBySeconds - askedAt;
      hand.onBy = step.onBySeconds - askedAt;
      break;
    case PowerCycleStep::kHandOff:
      hand.off = true;
      hand.offAt = step.atSeconds - askedAt;
      hand.onBy = step.onBySeconds - askedAt;
      break;
    case PowerCycleStep::kHandOn:
      hand.on = true;
      hand.onAt = step.atSeconds - askedAt;
      break;
  }
  return hand;
}

PassedLimit passedLimit(const HandState& hand, double since) {
  if (hand.on) {
    return PassedLimit::kNone;
  }
  // Followed by the clock only, the hand is never seen: the limits pass as they come, whatever
  // it did. Seen off, only the limit for coming back on is left.
  if (hand.off || hand.source == PowerCycleStep::kClock) {
    if (since >= hand.onBy) {
      return PassedLimit::kOn;
    }
    if (hand.off) {
      return PassedLimit::kNone;
    }
  }
  return since >= hand.offBy ? PassedLimit::kOff : PassedLimit::kNone;
}

void PowerCycleWatch::asked(double seconds) {
  if (asked_) {
    return;
  }
  asked_ = true;
  askedAt_ = seconds;
  state_.source = source_;
  state_.offBy = powerOffLimitSeconds();
  state_.onBy = powerOnLimitSeconds(0);
  step(PowerCycleStep::kAsked, 0);
  std::vector<Sighting> early;
  early.swap(early_);
  for (const Sighting& sighting : early) {
    see(sighting);
  }
}

void PowerCycleWatch::querySeen(double seconds) {
  see(Sighting{Sighting::kQuery, seconds});
}

void PowerCycleWatch::answerSeen(double seconds) {
  see(Sighting{Sighting::kAnswer, seconds});
}

void PowerCycleWatch::handReport(const std::string& line) {
  char* end = nullptr;
  double at = std::strtod(line.c_str(), &end);
  if (end == line.c_str() || *end != ' ') {
    return;
  }
  std::string what(end + 1);
  if (what == "first-query on") {
    see(Sighting{Sighting::kFirstQueryOn, at});
  } else if (what == "first-query off") {
    see(Sighting{Sighting::kFirstQueryOff, at});
  } else if (what == "power-off") {
    ++reportedOffs_;
    see(Sighting{Sighting::kPowerOff, at});
  } else if (what == "power-on") {
    ++reportedOns_;
    see(Sighting{Sighting::kPowerOn, at});
  }
  // Anything else ("answer", or words of a later virtual hand) changes nothing here.
}

std::vector<PowerCycleStep> PowerCycleWatch::takeSteps() {
  std::vector<PowerCycleStep> steps;
  steps.swap(steps_);
  return steps;
}

double PowerCycleWatch::sinceAsked(double at) const {
  double since = source_ == PowerCycleStep::kVirtualHand ? at - anchor_ : at - askedAt_;
  return since < 0 ? 0 : since;
}

void PowerCycleWatch::see(const Sighting& sighting) {
  if (source_ == PowerCycleStep::kClock) {
    return;
  }
  if (!asked_) {
    early_.push_back(sighting);
    return;
  }
  switch (sighting.kind) {
    case Sighting::kQuery:
      // A query with no frame after it before the next one went unanswered: from then on the
      // tool waits for the node to come back.
      if (queryPending_ && !state_.off) {
        handOff(sinceAsked(queryAt_));
      }
      queryPending_ = true;
      queryAt_ = sighting.at;
      break;
    case Sighting::kAnswer:
      queryPending_ = false;
      if (state_.off) {
        handOn(sinceAsked(sighting.at));
      }
      break;
    case Sighting::kFirstQueryOn:
    case Sighting::kFirstQueryOff:
      if (!haveAnchor_) {
        haveAnchor_ = true;
        anchor_ = sighting.at;
        if (sighting.kind == Sighting::kFirstQueryOff) {
          handOff(0);
        }
      }
      break;
    case Sighting::kPowerOff:
      if (haveAnchor_) {
        handOff(sinceAsked(sighting.at));
      }
      break;
    case Sighting::kPowerOn:
      if (haveAnchor_ && state_.off) {
        handOn(sinceAsked(sighting.at));
      }
      break;
  }
}

void PowerCycleWatch::handOff(double at) {
  if (state_.off) {
    return;
  }
  state_.off = true;
  state_.offAt = at;
  state_.onBy = powerOnLimitSeconds(at);
  step(PowerCycleStep::kHandOff, at);
}

void PowerCycleWatch::handOn(double at) {
  if (state_.on) {
    return;
  }
  state_.on = true;
  state_.onAt = at;
  step(PowerCycleStep::kHandOn, at);
}

void PowerCycleWatch::step(PowerCycleStep::Phase phase, double at) {
  PowerCycleStep step;
  step.phase = phase;
  step.source = source_;
  step.askedAtSeconds = askedAt_;
  if (phase == PowerCycleStep::kAsked) {
    step.offBySeconds = askedAt_ + state_.offBy;
  }
  if (phase != PowerCycleStep::kHandOn) {
    step.onBySeconds = askedAt_ + state_.onBy;
  }
  if (phase != PowerCycleStep::kAsked) {
    step.atSeconds = askedAt_ + at;
  }
  steps_.push_back(step);
}
