#include "power_cycle_watch.h"

#include <cstdlib>

#include "download/power_cycle.h"

const char* handSourceName(HandSource source) {
  switch (source) {
    case HandSource::kBus:
      return "bus";
    case HandSource::kVirtualHand:
      return "virtual-hand";
    case HandSource::kClock:
      return "clock";
  }
  return "clock";
}

const char* powerCyclePhaseName(PowerCyclePhase phase) {
  switch (phase) {
    case PowerCyclePhase::kAsked:
      return "asked";
    case PowerCyclePhase::kHandOff:
      return "hand-off";
    case PowerCyclePhase::kHandOn:
      return "hand-on";
  }
  return "asked";
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
  PowerCycleEvent event;
  event.phase = PowerCyclePhase::kAsked;
  event.source = source_;
  event.offBy = state_.offBy;
  event.onBy = state_.onBy;
  event.hand = state_;
  events_.push_back(event);
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
    see(Sighting{Sighting::kPowerOff, at});
  } else if (what == "power-on") {
    see(Sighting{Sighting::kPowerOn, at});
  }
  // Anything else ("answer", or words of a later virtual hand) changes nothing here.
}

std::vector<PowerCycleEvent> PowerCycleWatch::takeEvents() {
  std::vector<PowerCycleEvent> events;
  events.swap(events_);
  return events;
}

double PowerCycleWatch::sinceAsked(double at) const {
  double since = source_ == HandSource::kVirtualHand ? at - anchor_ : at - askedAt_;
  return since < 0 ? 0 : since;
}

void PowerCycleWatch::see(const Sighting& sighting) {
  if (source_ == HandSource::kClock) {
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
  PowerCycleEvent event;
  event.phase = PowerCyclePhase::kHandOff;
  event.source = source_;
  event.at = at;
  event.offBy = state_.offBy;
  event.onBy = state_.onBy;
  event.hand = state_;
  events_.push_back(event);
}

void PowerCycleWatch::handOn(double at) {
  if (state_.on) {
    return;
  }
  state_.on = true;
  state_.onAt = at;
  PowerCycleEvent event;
  event.phase = PowerCyclePhase::kHandOn;
  event.source = source_;
  event.at = at;
  event.offBy = state_.offBy;
  event.onBy = state_.onBy;
  event.hand = state_;
  events_.push_back(event);
}
