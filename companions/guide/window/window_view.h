// What the window's pages are told besides the feed: the tool's lines exactly as it printed
// them, for the page's log; and what the log keeps of the window.
#pragma once

#include "run_log.h"
#include "run_observer.h"
#include "window_session.h"

/// Passes the tool's lines, verbatim, to the pages, and the row each module's turn is in.
class WindowLines : public RunObserver {
 public:
  explicit WindowLines(WindowSession* session) : session_(session) {}

  /// Tells the pages which of their rows the events that follow are about.
  void moduleBegins(const ModuleInfo& module, double seconds) override;
  /// The turn's own checks replace those made before the start, in the row's words.
  void checked(const ModuleInfo& module, const PreflightResult& checks, bool refused,
               double seconds) override;
  void message(const ModuleInfo& module, const ToolMessage& message,
               const ProgressFigures* progress) override;
  void toolError(const ModuleInfo& module, const std::string& line, double seconds) override;
  /// Tells the pages which row the end that follows is about: a module skipped after an earlier
  /// one stopped the sequence has no turn of its own.
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;

 private:
  WindowSession* session_;
};

/// Writes into the log what the window adds to a module's turn: the uploaded file's own name,
/// and how many requests the window refused. Comes after the log among the observers.
class WindowLogNotes : public RunObserver {
 public:
  WindowLogNotes(RunLog* log, WindowSession* session) : log_(log), session_(session) {}

  void moduleBegins(const ModuleInfo& module, double seconds) override;
  void moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) override;

 private:
  RunLog* log_;
  WindowSession* session_;
};
