// Leaving the CAN interface as the run found it, however the process ends.
#pragma once

#include <string>

#include "can/can_interface_linux.h"

/// From now on, when the process ends, puts the interface |name| back as |plan| says: at exit
/// (endRun, or the entry point's return), and on every signal whose default action ends the
/// process, after which the process still ends by that signal. Signals the process ignores stay
/// ignored. The first call decides; later calls change nothing.
void restoreInterfaceAtEnd(const std::string& name, const CanRestorePlan& plan);
