// What happens during a guided update, told to each of its outputs: the person's view, the
// JSON feed and the log.
#pragma once

#include <string>
#include <vector>

#include "download_progress.h"
#include "module_outcome.h"
#include "preflight.h"
#include "tool_messages.h"

/// A step of the power cycle as the guide learnt it, and from where.
struct PowerCycleStep {
  enum Phase {
    kAsked,    // the tool asked for the power cycle
    kHandOff,  // the module went silent: its power is off
    kHandOn,   // the module answered again
  };
  enum Source {
    kBus,          // seen on the bus
    kVirtualHand,  // told by the virtual hand
    kClock,        // only the clock: nothing is known of the hand itself
  };
  Phase phase = kAsked;
  Source source = kClock;
  double offBySeconds = -1;    // kAsked: the hand must be off by then (guide's clock); or -1
  double onBySeconds = -1;     // kAsked, kHandOff: the hand must answer by then; or -1
  double atSeconds = -1;       // kHandOff, kHandOn: when it happened (guide's clock)
  double askedAtSeconds = -1;  // when the tool asked for the power cycle (guide's clock)
};

/// A step of a power command (--power-off, --power-on) and of what the hand did after it.
struct PowerCommandStep {
  enum Phase {
    kStarted,  // the command was started
    kEnded,    // it ended, was ended at its limit, or could not be started: |end|
    kHandOff,  // after the off command, the hand was seen off (|source|)
    kKeptOff,  // the hand was kept off for the time a power cycle needs
    kHandOn,   // after the on command, the hand was seen on (|source|)
    kFailed,   // the power cycle cannot go on: |detail| says why
  };
  enum End { kExited, kNotStarted, kTimedOut };
  Phase phase = kStarted;
  bool on = false;     // the on command, else the off command
  bool final = false;  // the power cycle after the module's download, else the one before it
  std::vector<std::string> argv;
  End end = kExited;
  int status = 0;      // kEnded, kExited: the exit status
  double seconds = 0;  // kEnded: how long it ran; kKeptOff: how long the hand was kept off
  std::string detail;  // kEnded: what it wrote last, or why it could not start; kFailed: why
  PowerCycleStep::Source source = PowerCycleStep::kClock;
};

/// Receives the events of a guided update in the order they happen. Times are seconds since
/// the guide started. Every method does nothing unless an output overrides it.
class RunObserver {
 public:
  virtual ~RunObserver() = default;

  /// |done| was done just before |next|'s turn: the power cycle the tool asks for to start
  /// |next| is also the one that completes |done|, to be made once. Told before |next| begins.
  virtual void powerCycleShared(const ModuleInfo& /*done*/, const ModuleInfo& /*next*/,
                                double /*seconds*/) {}
  virtual void moduleBegins(const ModuleInfo& /*module*/, double /*seconds*/) {}
  /// The checks are done; |refused| when the tool will not be started because of them.
  virtual void checked(const ModuleInfo& /*module*/, const PreflightResult& /*checks*/,
                       bool /*refused*/, double /*seconds*/) {}
  /// The tool was started with |argv|.
  virtual void toolStarted(const ModuleInfo& /*module*/, const std::vector<std::string>& /*argv*/,
                           double /*seconds*/) {}
  /// A line of the tool's standard output; |progress| is set for a progress report and for
  /// the end of the download.
  virtual void message(const ModuleInfo& /*module*/, const ToolMessage& /*message*/,
                       const ProgressFigures* /*progress*/) {}
  /// A line the tool wrote on standard error.
  virtual void toolError(const ModuleInfo& /*module*/, const std::string& /*line*/,
                         double /*seconds*/) {}
  /// A step of the power cycle.
  virtual void powerCycle(const ModuleInfo& /*module*/, const PowerCycleStep& /*step*/,
                          double /*seconds*/) {}
  /// A step of the guide's own power cycle, by the power commands.
  virtual void powerCommand(const ModuleInfo& /*module*/, const PowerCommandStep& /*step*/,
                            double /*seconds*/) {}
  /// Time passes with |stage| reached and nothing said; |progress| as in message().
  virtual void tick(const ModuleInfo& /*module*/, Stage /*stage*/,
                    const ProgressFigures* /*progress*/, double /*seconds*/) {}
  /// The person asked the guide to stop; it is passing that on to the tool.
  virtual void interrupting(const ModuleInfo& /*module*/, Stage /*stage*/, double /*seconds*/) {}
  virtual void moduleEnds(const ModuleInfo& /*module*/, const ModuleOutcome& /*outcome*/,
                          double /*seconds*/) {}
  /// Every module's outcome, in the order given.
  virtual void sequenceEnds(const std::vector<ModuleInfo>& /*modules*/,
                            const std::vector<ModuleOutcome>& /*outcomes*/, double /*seconds*/) {}
};

/// The outputs of a guided update behind one observer: each event goes to each of them, in the
/// order they were added.
class RunObservers : public RunObserver {
 public:
  void add(RunObserver* observer) { observers_.push_back(observer); }

  void powerCycleShared(const ModuleInfo& done, const ModuleInfo& next, double seconds) override {
    forward(&RunObserver::powerCycleShared, done, next, seconds);
  }
  void moduleBegins(const ModuleInfo& module, double seconds) override {
    forward(&RunObserver::moduleBegins, module, seconds);
  }
  void checked(const ModuleInfo& module, const PreflightResult& checks, bool refused,
               double seconds) override {
    forward(&RunObserver::checked, module, checks, refused, seconds);
  }
  void toolStarted(const ModuleInfo& module, const std::vector<std::string>& argv,
                   double seconds) override {
    forward(&RunObserver::toolStarted, module, argv, seconds);
  }
  void message(const ModuleInfo& module, const ToolMessage& message,
               const ProgressFigures* progress) override {
    forward(&RunObserver::message, module, message, progress);
  }
  void toolError(const ModuleInfo& module, const std::string& line, double seconds) override {
    forward(&RunObserver::toolError, module, line, seconds);
  }
  void powerCycle(const ModuleInfo& module, const PowerCycleStep& step, double seconds) override {
    forward(&RunObserver::powerCycle, module, step, seconds);
  }
  void powerCommand(const ModuleInfo& module, const PowerCommandStep& step,
                    double seconds) override {
    forward(&RunObserver::powerCommand, module, step, seconds);
  }
  void tick(const ModuleInfo& module, Stage stage, const ProgressFigures* progress,
            double seconds) override {
    forward(&RunObserver::tick, module, stage, progress, seconds);
  }
  void interrupting(const ModuleInfo& module, Stage stage, double seconds) override {
    forward(&RunObserver::interrupting, module, stage, seconds);
  }
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override {
    forward(&RunObserver::moduleEnds, module, outcome, seconds);
  }
  void sequenceEnds(const std::vector<ModuleInfo>& modules,
                    const std::vector<ModuleOutcome>& outcomes, double seconds) override {
    forward(&RunObserver::sequenceEnds, modules, outcomes, seconds);
  }

 private:
  template <typename... Parameters, typename... Arguments>
  void forward(void (RunObserver::*event)(Parameters...), const Arguments&... arguments) {
    for (RunObserver* observer : observers_) {
      (observer->*event)(arguments...);
    }
  }

  std::vector<RunObserver*> observers_;
};
