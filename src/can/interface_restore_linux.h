// Leaving the CAN interface as the run found it, however the process ends.
#pragma once

#include <string>

/// From now on, when the process ends, brings the interface |name| up when |up| is set and down
/// otherwise: at exit (endRun, or the entry point's return), and on SIGINT, SIGTERM, SIGHUP or
/// SIGQUIT, after which the process still ends by that signal. Signals the process ignores stay
/// ignored. The first call decides; later calls change nothing.
void restoreInterfaceAtEnd(const std::string& name, bool up);
