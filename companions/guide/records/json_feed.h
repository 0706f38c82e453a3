// The guide's feed for supervising programs: every event of a guided update as one JSON
// object, handed to a sink as it happens (JSON lines on standard output, or a window's page).
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "module_run.h"
#include "run_log.h"
#include "run_observer.h"

/// Where the feed's objects go, one call per event, in order.
using FeedSink = std::function<void(const nlohmann::ordered_json& event)>;

/// The program a module's turn runs, as the feed names it: the virtual hand (|virtualHand|) or
/// the tool, where it was found, and its version where the guide can know it.
nlohmann::ordered_json feedProgram(const GuideSettings& settings, bool virtualHand);

/// A sink that writes each object to |out| as one line and flushes it.
FeedSink jsonLinesSink(std::FILE* out);

/// What the feed's first event tells of the run.
struct FeedRun {
  std::chrono::system_clock::time_point started;  // when the guide's clock read 0
  std::vector<std::string> arguments;             // the command line as typed, less the program
  bool understood = false;  // the command line was read: what follows is what it asked for
  GuideSettings settings;
  LogChoice log;
  std::vector<ModuleInfo> modules;
  std::string recordWarning;  // why this computer's record of the modules could not be read
  std::string setName;        // --set: the firmware set's name; empty without one
  std::string setFile;        // --set: the set file, as named
};

/// What the feed's last event tells of the run.
struct FeedRunEnd {
  int status = 0;                        // the guide's exit status
  std::string usageError;                // why the command line was refused; empty when it was not
  std::vector<std::string> setProblems;  // why the firmware set (--set) was refused; else none
  std::vector<std::string> commandLine;  // as typed, less the modules
  std::vector<ModuleInfo> modules;
  std::vector<ModuleOutcome> outcomes;
};

/// Builds the feed's objects from the events of a guided update (described in
/// doc/supervising-programs.md, its schema in doc/nodletflash-guide-feed.schema.json).
class JsonFeed : public RunObserver {
 public:
  explicit JsonFeed(FeedSink sink) : sink_(std::move(sink)) {}

  /// The run's first event, before any module's.
  void runBegins(const FeedRun& run, double seconds);
  /// The run's last event, once every module has ended (or the command line was refused).
  void runEnds(const FeedRunEnd& end, double seconds);

  void powerCycleShared(const ModuleInfo& done, const ModuleInfo& next, double seconds) override;
  void moduleBegins(const ModuleInfo& module, double seconds) override;
  void checked(const ModuleInfo& module, const PreflightResult& checks, bool refused,
               double seconds) override;
  void message(const ModuleInfo& module, const ToolMessage& message,
               const ProgressFigures* progress) override;
  void toolError(const ModuleInfo& module, const std::string& line, double seconds) override;
  void powerCycle(const ModuleInfo& module, const PowerCycleStep& step, double seconds) override;
  void powerCommand(const ModuleInfo& module, const PowerCommandStep& step,
                    double seconds) override;
  void interrupting(const ModuleInfo& module, Stage stage, double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;

 private:
  FeedSink sink_;
};
