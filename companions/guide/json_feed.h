// The guide's feed for supervising programs: one JSON object per line on standard output,
// flushed as each event happens.
#pragma once

#include <cstdio>

#include "run_observer.h"

/// Writes the events of a guided update as JSON lines (the schema is in README.md).
class JsonFeed : public RunObserver {
 public:
  explicit JsonFeed(std::FILE* out) : out_(out) {}

  void moduleBegins(const ModuleInfo& module, double seconds) override;
  void checked(const ModuleInfo& module, const PreflightResult& checks, bool refused,
               double seconds) override;
  void toolStarted(const ModuleInfo& module, const std::vector<std::string>& argv,
                   double seconds) override;
  void message(const ModuleInfo& module, const ToolMessage& message,
               const ProgressFigures* progress) override;
  void toolError(const ModuleInfo& module, const std::string& line, double seconds) override;
  void tick(const ModuleInfo& module, Stage stage, const ProgressFigures* progress,
            double seconds) override;
  void powerCycle(const ModuleInfo& module, const PowerCycleEvent& event, const HandState& hand,
                  double seconds) override;
  void interrupting(const ModuleInfo& module, Stage stage, double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;
  void sequenceEnds(const std::vector<ModuleInfo>& modules,
                    const std::vector<ModuleOutcome>& outcomes, double seconds) override;

 private:
  std::FILE* out_;
};
