#include "person_model.h"

void PersonModel::onQuery(SimTime now) {
  if (started_) {
    return;
  }
  started_ = true;
  switch (plan_) {
    case PersonPlan::kPowerCycle:
      next_at_ = now + switch_off_delay_;
      next_is_on_ = false;
      break;
    case PersonPlan::kSwitchOn:
      next_at_ = now + kPersonSwitchOnDelay;
      next_is_on_ = true;
      break;
    case PersonPlan::kIdle:
      break;
  }
}

bool PersonModel::act() {
  bool on = next_is_on_;
  if (!on && plan_ == PersonPlan::kPowerCycle) {
    next_at_ += off_time_;
    next_is_on_ = true;
  } else {
    next_at_ = kNever;
  }
  return on;
}
