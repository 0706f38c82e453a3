// The person at the hand's power switch, following the tool's instruction to power-cycle it.
#pragma once

#include "hand_timing.h"

/// What the person does once the handshake's first query shows that the tool is waiting.
enum class PersonPlan {
  kPowerCycle,  // switches the hand off, waits, switches it on
  kSwitchOn,    // the hand is already off: only switches it on
  kIdle,        // does nothing
};

/// The person: reacts to the first query with the plan's switch actions at fixed delays.
class PersonModel {
 public:
  explicit PersonModel(PersonPlan plan, SimTime switchOffDelay = kPersonSwitchOffDelay,
                       SimTime offTime = kPersonOffTime)
      : plan_(plan), switch_off_delay_(switchOffDelay), off_time_(offTime) {}

  /// The tool has sent a query; the first one starts the plan.
  void onQuery(SimTime now);

  /// When the next switch action is due; kNever if none is.
  SimTime nextActionAt() const { return next_at_; }
  /// Performs the action due at nextActionAt(); returns the switch position it leaves: true on.
  bool act();

 private:
  PersonPlan plan_;
  SimTime switch_off_delay_;
  SimTime off_time_;
  bool started_ = false;
  SimTime next_at_ = kNever;
  bool next_is_on_ = false;
};
