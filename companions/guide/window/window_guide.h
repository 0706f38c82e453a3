// nodletflash-guide --window: the same checks, runs, log and feed as the terminal guide, with
// a page in the person's browser as the view.
#pragma once

#include <string>
#include <vector>

#include "module_run.h"

/// What the command line asks of the window.
struct WindowOptions {
  GuideSettings settings;
  std::string logPath;  // --log, or empty
  bool noLog = false;
  bool openBrowser = true;         // false with --no-browser
  std::vector<std::string> pairs;  // node numbers and files; empty: the page picks them
};

/// Serves the window until the person closes it or stops the guide; returns the guide's exit
/// status.
int runWindow(const WindowOptions& options);
