// nodletflash-guide --window: the same sequence, checks, log and feed as the terminal guide,
// with a page in the person's browser as the view.
#pragma once

#include <vector>

#include "run_log.h"
#include "sequence.h"

/// Serves the window for |modules| (none: the page picks them) until the person closes it or
/// stops the guide; |openBrowser| is false with --no-browser. Returns the guide's exit status.
int runWindow(const GuideSettings& settings, const LogChoice& log, std::vector<ModuleInfo> modules,
              bool openBrowser);
