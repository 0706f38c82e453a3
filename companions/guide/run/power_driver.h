// The guide's own power cycle, by the power commands: the off command, the hand seen going off,
// kept off, the on command, the hand seen answering; each step sure before the next, each
// command bounded, and the first thing that goes wrong ends it with what was seen.
#pragma once

#include <memory>
#include <string>

#include "hand_channel.h"
#include "power_command.h"
#include "power_cycle_watch.h"
#include "run_observer.h"
#include "subprocess.h"
#include "switch_relay.h"

/// How long the hand is kept off: the five seconds the tool asks for.
inline constexpr double kKeepOffSeconds = 5.0;

/// |step| in the words the terminal and the log give it.
std::string powerStepWords(const PowerCommandStep& step);

class PowerDriver {
 public:
  /// |commands| given; |source|: how the hand is seen in this turn; |handKeepsTime|: a rehearsal
  /// on the virtual hand's own clock, which keeps the hand off itself (the guide's clock would
  /// mean nothing to it); |relay|: the rehearsal's switch, or null.
  PowerDriver(const PowerCommands& commands, PowerCycleStep::Source source, bool handKeepsTime,
              HandChannel* hand, SwitchRelay* relay, const ModuleInfo& module,
              RunObserver* observer);

  /// The tool asked for a power cycle at |now|: before the download, or (|final|) after it.
  void begin(bool final, const PowerCycleWatch& watch, double now);
  /// Moves the power cycle on; |toolEnded| once the tool's run is over.
  void step(const PowerCycleWatch& watch, bool toolEnded, double now);

  bool busy() const {
    return phase_ != Phase::kIdle && phase_ != Phase::kDone && phase_ != Phase::kFailed;
  }
  bool failed() const { return phase_ == Phase::kFailed; }
  /// Whether the final power cycle, after the download, went through.
  bool finalDone() const { return final_ && phase_ == Phase::kDone; }
  const std::string& problem() const { return problem_; }
  /// Whether a wait for a command saw the person ask the guide to stop; cleared by the call.
  bool takeInterruption();

 private:
  enum class Phase {
    kIdle,
    kOffRunning,
    kAwaitOff,
    kKeepOff,
    kOnRunning,
    kAwaitOn,
    kDone,
    kFailed
  };
  void start(bool on, double now);
  // The running command: true once it has ended (|ok| when it exited with status 0).
  bool commandEnded(double now, bool* ok);
  void fail(const std::string& problem, double now);
  // Tells the virtual hand that the running command has ended, once per command.
  void sendDoneOrder(bool on);
  void tell(PowerCommandStep step, double now);
  bool seenOff(const PowerCycleWatch& watch) const;
  bool seenOn(const PowerCycleWatch& watch) const;
  // After the |on| (or off) command ended well: true, told, once the hand is |seen| to follow it
  // (or |seenBy| is the clock); the cycle fails at |limit|, or when the tool's run ended first.
  bool handFollowed(bool on, bool seen, double limit, PowerCycleStep::Source seenBy, bool toolEnded,
                    double now);

  PowerCommands commands_;
  PowerCycleStep::Source source_;
  bool handKeepsTime_;
  HandChannel* hand_;
  SwitchRelay* relay_;
  const ModuleInfo& module_;
  RunObserver* observer_;
  Phase phase_ = Phase::kIdle;
  bool final_ = false;
  double askedAt_ = 0;
  double phaseAt_ = 0;  // when the current phase began
  std::unique_ptr<Subprocess> command_;
  std::string lastOutput_;
  bool interrupted_ = false;
  bool doneOrderOwed_ = false;  // the command started has not yet been told ended to the hand
  int offsBefore_ = 0;          // the virtual hand's reports before the final power cycle
  int onsBefore_ = 0;
  std::string problem_;
};
