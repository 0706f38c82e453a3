#include "power_driver.h"

#include <cstdio>

#include "download/power_cycle.h"

namespace {

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f s", seconds);
  return text;
}

const char* commandName(bool on) {
  return on ? "the power-on command" : "the power-off command";
}

}  // namespace

std::string powerStepWords(const PowerCommandStep& step) {
  std::string cycle = step.final ? "the final power cycle" : "the power cycle";
  std::string named = std::string(commandName(step.on)) + " (" + commandText(step.argv) + ")";
  switch (step.phase) {
    case PowerCommandStep::kStarted:
      return (step.on ? "Switching the hand on for " : "Switching the hand off for ") + cycle +
             ": running " + named + "...";
    case PowerCommandStep::kEnded:
      switch (step.end) {
        case PowerCommandStep::kNotStarted:
          return named + " could not be started: " + step.detail;
        case PowerCommandStep::kTimedOut:
          return named + " was still running after " + secondsText(step.seconds) + " and was ended";
        case PowerCommandStep::kExited:
          break;
      }
      return named + " ended with status " + std::to_string(step.status) + " after " +
             secondsText(step.seconds) +
             (step.detail.empty() ? std::string() : " (\"" + step.detail + "\")");
    case PowerCommandStep::kHandOff:
      return step.source == PowerCycleStep::kClock
                 ? std::string(
                       "The hand cannot be seen from here: it is taken to be off, by the "
                       "clock alone.")
                 : std::string("The hand went off (seen ") +
                       (step.source == PowerCycleStep::kBus ? "on the bus"
                                                            : "by the virtual hand") +
                       ").";
    case PowerCommandStep::kKeptOff:
      return "The hand was kept off " + secondsText(step.seconds) +
             (step.source == PowerCycleStep::kVirtualHand ? " of the virtual hand's own time."
                                                          : ".");
    case PowerCommandStep::kHandOn:
      return step.source == PowerCycleStep::kClock
                 ? std::string(
                       "The hand cannot be seen from here: whether it came back on is not "
                       "known; the tool's own wait for its answer tells.")
                 : std::string("The hand came back on (seen ") +
                       (step.source == PowerCycleStep::kBus ? "on the bus"
                                                            : "by the virtual hand") +
                       ").";
    case PowerCommandStep::kFailed:
      return "The guide's power cycle failed: " + step.detail + ".";
  }
  return {};
}

PowerDriver::PowerDriver(const PowerCommands& commands, PowerCycleStep::Source source,
                         bool handKeepsTime, HandChannel* hand, SwitchRelay* relay,
                         const ModuleInfo& module, RunObserver* observer)
    : commands_(commands),
      source_(source),
      handKeepsTime_(handKeepsTime),
      hand_(hand),
      relay_(relay),
      module_(module),
      observer_(observer) {}

bool PowerDriver::takeInterruption() {
  bool was = interrupted_;
  interrupted_ = false;
  return was;
}

void PowerDriver::tell(PowerCommandStep step, double now) {
  step.final = final_;
  observer_->powerCommand(module_, step, now);
}

void PowerDriver::begin(bool final, const PowerCycleWatch& watch, double now) {
  if (busy()) {
    return;
  }
  final_ = final;
  offsBefore_ = watch.reportedOffs();
  onsBefore_ = watch.reportedOns();
  askedAt_ = now;
  problem_.clear();
  start(false, now);
}

void PowerDriver::start(bool on, double now) {
  const std::vector<std::string>& words = on ? commands_.on : commands_.off;
  phase_ = on ? Phase::kOnRunning : Phase::kOffRunning;
  phaseAt_ = now;
  lastOutput_.clear();
  PowerCommandStep started;
  started.phase = PowerCommandStep::kStarted;
  started.on = on;
  started.argv = words;
  tell(started, now);
  doneOrderOwed_ = true;
  std::vector<std::string> argv = words;
  argv[0] = commandProgram(words[0]);
  std::string error;
  command_ = std::make_unique<Subprocess>();
  if (argv[0].empty() || !command_->start(argv, &error)) {
    PowerCommandStep ended = started;
    ended.phase = PowerCommandStep::kEnded;
    ended.end = PowerCommandStep::kNotStarted;
    ended.detail = argv[0].empty() ? "not found on PATH" : error;
    tell(ended, now);
    command_.reset();
    fail(std::string(commandName(on)) + " (" + commandText(words) +
             ") could not be started: " + ended.detail,
         now);
  }
}

bool PowerDriver::commandEnded(double now, bool* ok) {
  bool on = phase_ == Phase::kOnRunning;
  if (relay_ != nullptr) {
    relay_->serve([this](const std::string& request) -> std::string {
      return hand_->order(request) ? std::string()
                                   : std::string("the rehearsal's virtual hand has ended");
    });
  }
  bool closed = false;
  for (;;) {
    ChildEvent event = command_->wait(0);
    if (event.kind == ChildEvent::kData) {
      lastOutput_ += event.bytes;
      if (lastOutput_.size() > 2048) {
        lastOutput_.erase(0, lastOutput_.size() - 2048);
      }
      continue;
    }
    if (event.kind == ChildEvent::kInterrupted) {
      interrupted_ = true;
      continue;
    }
    closed = event.kind == ChildEvent::kClosed;
    break;
  }
  bool overran = !closed && now - phaseAt_ > commands_.limitSeconds;
  if (!closed && !overran) {
    return false;
  }
  if (overran) {
    command_->kill();
  }
  int status = command_->finish();
  command_.reset();
  PowerCommandStep ended;
  ended.phase = PowerCommandStep::kEnded;
  ended.on = on;
  ended.argv = on ? commands_.on : commands_.off;
  ended.end = overran ? PowerCommandStep::kTimedOut : PowerCommandStep::kExited;
  ended.status = status;
  ended.seconds = now - phaseAt_;
  // Its last line, trimmed: what a failing command usually says of why.
  while (!lastOutput_.empty() && (lastOutput_.back() == '\n' || lastOutput_.back() == '\r')) {
    lastOutput_.pop_back();
  }
  size_t lastLine = lastOutput_.rfind('\n');
  ended.detail = lastLine == std::string::npos ? lastOutput_ : lastOutput_.substr(lastLine + 1);
  tell(ended, now);
  // The virtual hand hears that the command has ended, switched or not.
  sendDoneOrder(on);
  std::string named = std::string(commandName(on)) + " (" + commandText(ended.argv) + ")";
  if (overran) {
    fail(named + " did not end within its limit of " + secondsText(commands_.limitSeconds) +
             " and was ended",
         now);
    return true;
  }
  if (status != 0) {
    fail(named + " ended with status " + std::to_string(status) +
             (ended.detail.empty() ? std::string() : " (\"" + ended.detail + "\")"),
         now);
    return true;
  }
  *ok = true;
  return true;
}

bool PowerDriver::seenOff(const PowerCycleWatch& watch) const {
  return final_ ? watch.reportedOffs() > offsBefore_ : watch.state().off;
}

bool PowerDriver::seenOn(const PowerCycleWatch& watch) const {
  return final_ ? watch.reportedOns() > onsBefore_ : watch.state().on;
}

void PowerDriver::sendDoneOrder(bool on) {
  if (doneOrderOwed_) {
    doneOrderOwed_ = false;
    hand_->order(on ? "on-done" : "off-done");
  }
}

void PowerDriver::fail(const std::string& problem, double now) {
  // A virtual hand waiting for the command that failed would wait for ever.
  sendDoneOrder(phase_ == Phase::kOnRunning);
  phase_ = Phase::kFailed;
  problem_ = problem;
  PowerCommandStep failed;
  failed.phase = PowerCommandStep::kFailed;
  failed.detail = problem;
  tell(failed, now);
}

bool PowerDriver::handFollowed(bool on, bool seen, double limit, PowerCycleStep::Source seenBy,
                               bool toolEnded, double now) {
  if (seen) {
    PowerCommandStep step;
    step.phase = on ? PowerCommandStep::kHandOn : PowerCommandStep::kHandOff;
    step.source = seenBy;
    tell(step, now);
    return true;
  }
  if (now >= limit || (toolEnded && !final_)) {
    fail("after " + std::string(commandName(on)) + " (" +
             commandText(on ? commands_.on : commands_.off) +
             ") ended with status 0, the hand was not seen to " + (on ? "answer" : "go off") +
             (toolEnded && !final_
                  ? std::string(" before the tool's run ended")
                  : " in the " + secondsText(now - askedAt_) + " the guide waited for it"),
         now);
  }
  return false;
}

void PowerDriver::step(const PowerCycleWatch& watch, bool toolEnded, double now) {
  // After the download nobody queries the real hand: only the virtual hand is seen then.
  PowerCycleStep::Source seenBy =
      final_ && source_ == PowerCycleStep::kBus ? PowerCycleStep::kClock : source_;
  bool ok = false;
  switch (phase_) {
    case Phase::kOffRunning:
    case Phase::kOnRunning:
      if (commandEnded(now, &ok) && ok) {
        phase_ = phase_ == Phase::kOffRunning ? Phase::kAwaitOff : Phase::kAwaitOn;
        phaseAt_ = now;
      }
      break;
    case Phase::kAwaitOff: {
      // The tool's own limit for the hand going off, or the command's limit after the run.
      double limit = final_ ? phaseAt_ + commands_.limitSeconds : askedAt_ + powerOffLimitSeconds();
      if (handFollowed(false, seenBy == PowerCycleStep::kClock || seenOff(watch), limit, seenBy,
                       toolEnded, now)) {
        phase_ = Phase::kKeepOff;
        phaseAt_ = now;
      }
      break;
    }
    case Phase::kKeepOff:
      if (handKeepsTime_ || now - phaseAt_ >= kKeepOffSeconds) {
        PowerCommandStep kept;
        kept.phase = PowerCommandStep::kKeptOff;
        kept.seconds = handKeepsTime_ ? kKeepOffSeconds : now - phaseAt_;
        kept.source = handKeepsTime_ ? PowerCycleStep::kVirtualHand : PowerCycleStep::kClock;
        tell(kept, now);
        start(true, now);
      }
      break;
    case Phase::kAwaitOn: {
      double limit = final_ ? phaseAt_ + commands_.limitSeconds : askedAt_ + watch.state().onBy;
      if (handFollowed(true, seenBy == PowerCycleStep::kClock || seenOn(watch), limit, seenBy,
                       toolEnded, now)) {
        phase_ = Phase::kDone;
      }
      break;
    }
    case Phase::kIdle:
    case Phase::kDone:
    case Phase::kFailed:
      break;
  }
}
