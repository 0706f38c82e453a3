// The guide's view for a person: narration as it comes, instructions that stand out, a live
// line through the power cycle and the download, and after an error its likely causes.
#pragma once

#include <string>
#include <vector>

#include "line_printer.h"
#include "power_cycle_watch.h"
#include "run_observer.h"

/// Shows a guided update on the guide's standard output; on a terminal that is not smart (or
/// through a pipe) as plain lines only.
class TerminalView : public RunObserver {
 public:
  explicit TerminalView(LinePrinter* printer, std::string rehearsal)
      : printer_(printer), rehearsal_(std::move(rehearsal)) {}

  /// The guide's command line as typed, less the modules: with the modules not done after it,
  /// the command shown when the sequence stops.
  void setCommandLine(std::vector<std::string> words) { commandLine_ = std::move(words); }
  /// The guide switches the hand by its power commands: nobody is told to switch it, and the
  /// commands' steps stand in for the person's live line.
  void setGuideSwitches(bool switches) { guideSwitches_ = switches; }

  /// Before the first module: this computer's record of |modules| where a person must know it,
  /// and |warning| when the record could not be read.
  void showRecords(const std::vector<ModuleInfo>& modules, const std::string& warning);

  void powerCycleShared(const ModuleInfo& done, const ModuleInfo& next, double seconds) override;
  void moduleBegins(const ModuleInfo& module, double seconds) override;
  void checked(const ModuleInfo& module, const PreflightResult& checks, bool refused,
               double seconds) override;
  void message(const ModuleInfo& module, const ToolMessage& message,
               const ProgressFigures* progress) override;
  void toolError(const ModuleInfo& module, const std::string& line, double seconds) override;
  void tick(const ModuleInfo& module, Stage stage, const ProgressFigures* progress,
            double seconds) override;
  void powerCycle(const ModuleInfo& module, const PowerCycleStep& step, double seconds) override;
  void powerCommand(const ModuleInfo& module, const PowerCommandStep& step,
                    double seconds) override;
  void interrupting(const ModuleInfo& module, Stage stage, double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;
  void sequenceEnds(const std::vector<ModuleInfo>& modules,
                    const std::vector<ModuleOutcome>& outcomes, double seconds) override;

 private:
  void showPowerCycle(double seconds);
  void showProgress(const ProgressFigures& figures, double seconds, bool force);
  void showTroubleshooting(const std::string& line);

  LinePrinter* printer_;
  std::string rehearsal_;      // the scenario when rehearsing, else empty
  double instructionAt_ = -1;  // when the person was asked to power-cycle; <0 when not waiting
  HandState hand_;             // what is known of the hand in the power cycle
  int plainWaitShown_ = 0;     // plain mode: the last 10 s mark of the wait printed
  bool downloading_ = false;
  double lastDrawn_ = -1;     // when the live line was last drawn
  int plainTenthShown_ = -1;  // plain mode: the last tenth of the download printed
  std::vector<std::string> commandLine_;
  bool guideSwitches_ = false;
};

/// A line for the terminal and its colour.
struct PaintedLine {
  std::string text;
  Colour colour = Colour::kNone;
};

/// How a module's turn ended, as the terminal tells it: the outcome and what the module holds,
/// a warning of its record, and its log.
std::vector<PaintedLine> moduleEndLines(const ModuleInfo& module, const ModuleOutcome& outcome);

/// The progress bar line: bar, percentage, characters, pace and time left, in the fullest
/// wording that fits |width| columns (shorter words, a shorter bar, then fewer figures; the
/// percentage and the time left stay).
std::string progressLine(const ProgressFigures& figures, int width);
