// The record of a guided update, kept to look back on or to send to the hand's maker: the
// checks' findings, every line of the tool exactly as received with its time, and how each
// module ended. Every line is flushed as it is written, so the log is complete whatever ends
// the run.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "run_observer.h"

/// Writes the log: to one file given by --log, or to a file per module named after the node
/// and the time its turn began.
class RunLog : public RunObserver {
 public:
  /// |path| empty: a file per module in the current directory. |start| is the wall-clock time
  /// at which the guide's clock read 0.
  RunLog(std::string path, std::chrono::system_clock::time_point start);
  ~RunLog() override;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  /// The file that could not be opened, when one could not; empty while all is well.
  const std::string& failedPath() const { return failedPath_; }

  /// Adds |text| to the current module's log, as said at |seconds|.
  void note(double seconds, const std::string& text) { line(seconds, text); }

  void moduleBegins(const ModuleInfo& module, double seconds) override;
  void checked(const ModuleInfo& module, const PreflightResult& checks, bool refused,
               double seconds) override;
  void toolStarted(const ModuleInfo& module, const std::vector<std::string>& argv,
                   double seconds) override;
  void message(const ModuleInfo& module, const ToolMessage& message,
               const ProgressFigures* progress) override;
  void toolError(const ModuleInfo& module, const std::string& line, double seconds) override;
  void interrupting(const ModuleInfo& module, Stage stage, double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;
  void sequenceEnds(const std::vector<ModuleInfo>& modules,
                    const std::vector<ModuleOutcome>& outcomes, double seconds) override;

 private:
  void line(double seconds, const std::string& text);

  std::string path_;
  std::chrono::system_clock::time_point start_;
  std::FILE* file_ = nullptr;
  std::string failedPath_;
};

/// The default log name of a module: nodletflash-<node>-<UTC date and time>.log.
std::string defaultLogName(const std::string& nodeText, std::chrono::system_clock::time_point at);
