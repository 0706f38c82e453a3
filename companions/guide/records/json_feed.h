// The guide's feed for supervising programs: every event of a guided update as one JSON
// object, handed to a sink as it happens (JSON lines on standard output, or a window's page).
#pragma once

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>

#include "run_observer.h"

/// Where the feed's objects go, one call per event, in order.
using FeedSink = std::function<void(const nlohmann::ordered_json& event)>;

/// A sink that writes each object to |out| as one line and flushes it.
FeedSink jsonLinesSink(std::FILE* out);

/// Builds the feed's objects from the events of a guided update (described in
/// doc/supervising-programs.md, its schema in doc/nodletflash-guide-feed.schema.json).
class JsonFeed : public RunObserver {
 public:
  explicit JsonFeed(FeedSink sink) : sink_(std::move(sink)) {}

  void moduleBegins(const ModuleInfo& module, double seconds) override;
  void checked(const ModuleInfo& module, const PreflightResult& checks, bool refused,
               double seconds) override;
  void message(const ModuleInfo& module, const ToolMessage& message,
               const ProgressFigures* progress) override;
  void toolError(const ModuleInfo& module, const std::string& line, double seconds) override;
  void powerCycle(const ModuleInfo& module, const PowerCycleStep& step, double seconds) override;
  void interrupting(const ModuleInfo& module, Stage stage, double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;

 private:
  FeedSink sink_;
};
