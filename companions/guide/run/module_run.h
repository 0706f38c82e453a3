// One module's turn in a guided update: the checks, then the tool (or the virtual hand) as a
// child whose every message is passed to the guide's outputs as it arrives.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "module_outcome.h"
#include "module_records.h"
#include "power_command.h"
#include "run_observer.h"

/// How the modules are to be flashed, from the command line.
struct GuideSettings {
  std::string toolPath;   // --tool, or empty
  bool rehearse = false;  // run the virtual hand instead of the tool
  std::string scenario = "normal";
  std::string simPath;   // --sim, or empty
  std::string simClock;  // --sim-clock, or empty for the virtual hand's default
  bool force = false;    // start the tool even when the checks find a problem
  int listenMs = 1000;   // how long the checks listen to the bus
  PowerCommands power;   // --power-off, --power-on: the guide switches the hand itself
};

/// The guide's own clock: seconds since it started.
class GuideClock {
 public:
  GuideClock() : start_(std::chrono::steady_clock::now()) {}
  double now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

/// The command that flashes |module|: the tool's, or the virtual hand's when rehearsing. False
/// with |reason| set when the program cannot be found.
bool commandFor(const ModuleInfo& module, const GuideSettings& settings,
                std::vector<std::string>* argv, std::string* reason);

/// The findings that are problems, as "topic: text".
std::vector<std::string> problemsOf(const PreflightResult& checks);

/// Whether |checks| keep the tool from being started: a problem of the node number or the file
/// always does, a problem of this computer or the bus unless |force| (--force) overrides it.
bool checksRefuse(const PreflightResult& checks, bool force);

/// Runs |module|'s turn and tells |observer| everything as it happens. |fileChecks| are the
/// checks of its node number and file, already made and found without a problem; this
/// computer's own are made here. |records| keeps this computer's record of the module, or is
/// null when none is kept.
ModuleOutcome runModule(const ModuleInfo& module, const PreflightResult& fileChecks,
                        const GuideSettings& settings, const GuideClock& clock,
                        RunObserver* observer, ModuleRecords* records);

/// A module whose node number or file has problems: its checks are told and it is refused.
ModuleOutcome refuseModule(const ModuleInfo& module, const PreflightResult& fileChecks,
                           const GuideClock& clock, RunObserver* observer);
