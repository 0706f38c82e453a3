// The record of a guided update, kept to look back on or to send to the hand's maker: the
// checks' findings, every line of the tool exactly as received with its time, and how each
// module ended. Every line is flushed as it is written, so the log is complete whatever ends
// the run.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "power_cycle_watch.h"
#include "run_observer.h"
#include "sequence.h"

/// Where the log goes, as the command line asks.
struct LogChoice {
  std::string path;   // --log: one file for every module, added to; empty: a file per module
  bool none = false;  // --no-log
};

/// Writes the log: to one file given by --log, added to, or to a new file per module named
/// after the node and the time its turn began.
class RunLog : public RunObserver, public TurnRecord {
 public:
  /// |path| empty: a file per module in the current directory. |start| is the wall-clock time
  /// at which the guide's clock read 0.
  RunLog(std::string path, std::chrono::system_clock::time_point start);
  ~RunLog() override;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  /// Opens the log for |module|, whose turn begins at |seconds|, before anything of it is
  /// told. False with |reason| set (naming the file and the system's words) when it cannot.
  bool open(const ModuleInfo& module, double seconds, std::string* reason) override;

  /// The file being written; empty when none is open.
  const std::string& path() const override { return path_; }

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
  void powerCycle(const ModuleInfo& module, const PowerCycleStep& step, double seconds) override;
  void tick(const ModuleInfo& module, Stage stage, const ProgressFigures* progress,
            double seconds) override;
  void powerCommand(const ModuleInfo& module, const PowerCommandStep& step,
                    double seconds) override;
  void interrupting(const ModuleInfo& module, Stage stage, double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;
  void sequenceEnds(const std::vector<ModuleInfo>& modules,
                    const std::vector<ModuleOutcome>& outcomes, double seconds) override;

 private:
  void line(double seconds, const std::string& text);
  // Notes a limit of the power cycle that has passed without its step, once; |how| says how
  // the guide knows.
  void notePassed(PassedLimit passed, double seconds, const char* how);

  // How many names the default one and its numbered variants are tried under.
  static constexpr int kMaxNameAttempts = 99;

  std::string given_;  // --log, or empty
  std::string path_;
  std::chrono::system_clock::time_point start_;
  std::FILE* file_ = nullptr;
  // The power cycle: whether it is being followed (from the instruction until the download
  // starts or the tool fails), the instruction's time on the guide's clock, the hand as known,
  // and the limits already noted as passed.
  bool watching_ = false;
  double instructionAt_ = 0;
  HandState hand_;
  bool offPassedNoted_ = false;
  bool onPassedNoted_ = false;
};

/// The default log name of a module: nodletflash-<node>-<UTC date and time>.log.
std::string defaultLogName(const std::string& nodeText, std::chrono::system_clock::time_point at);
