// What the window's pages show of the moment: the power cycle's instruction in the words the
// terminal uses, and the download's figures as the terminal writes numbers. Kept in the
// session's state, which the pages read whole, not in the entries each page replays.
#pragma once

#include "power_cycle_watch.h"
#include "run_observer.h"
#include "window_session.h"

class WindowMoment : public RunObserver {
 public:
  explicit WindowMoment(WindowSession* session) : session_(session) {}

  void moduleBegins(const ModuleInfo& module, double seconds) override;
  void message(const ModuleInfo& module, const ToolMessage& message,
               const ProgressFigures* progress) override;
  void powerCycle(const ModuleInfo& module, const PowerCycleStep& step, double seconds) override;
  void tick(const ModuleInfo& module, Stage stage, const ProgressFigures* progress,
            double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;

 private:
  void showPowerCycle(const ModuleInfo& module, double seconds);
  void showDownload(const ModuleInfo& module, const ProgressFigures* progress);
  void clear();

  WindowSession* session_;
  double instructionAt_ = -1;  // the power cycle's instruction, while it stands
  HandState hand_;
  bool downloading_ = false;
};

/// The download's figures as the pages show them; |progress| null before the first report.
nlohmann::ordered_json downloadMoment(size_t index, const ProgressFigures* progress);
