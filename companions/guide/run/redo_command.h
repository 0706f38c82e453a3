// The command that flashes the modules a guided update did not get done: the command line as
// typed, less its modules, followed by each module not done. The terminal shows it and the feed
// gives it.
#pragma once

#include <string>
#include <vector>

#include "module_outcome.h"

/// The places in |outcomes| of the modules not done, in order.
std::vector<size_t> modulesNotDone(const std::vector<ModuleOutcome>& outcomes);

/// |commandLine| (the guide's command line as typed, less the modules) followed by the node
/// number and the file of each of |modules| not done, as typed; empty when every module is done
/// or |commandLine| is empty.
std::vector<std::string> redoArguments(const std::vector<std::string>& commandLine,
                                       const std::vector<ModuleInfo>& modules,
                                       const std::vector<ModuleOutcome>& outcomes);

/// |words| as one line a POSIX shell reads back as those words: a word with anything but the
/// plain characters of paths and options is quoted.
std::string shellCommand(const std::vector<std::string>& words);
