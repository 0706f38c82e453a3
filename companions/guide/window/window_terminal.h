// The terminal beside the window: what the person at the guide's terminal is told while the
// page drives, so the terminal never looks idle or done while the guide runs.
#pragma once

#include <string>

#include "line_printer.h"
#include "run_observer.h"

/// Tells each module's turn and its end, in the terminal's own words.
class WindowTerminal : public RunObserver {
 public:
  explicit WindowTerminal(LinePrinter* printer) : printer_(printer) {}

  void moduleBegins(const ModuleInfo& module, double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;

 private:
  LinePrinter* printer_;
};

/// Printed under the address: to keep the terminal open, and where the logs go (|logPlace|,
/// empty for none).
std::string windowTerminalIntro(const std::string& logPlace);

/// Printed when the sequence has ended, finished or stopped: how to end the guide.
extern const char* const kWindowTerminalHowToEnd;
