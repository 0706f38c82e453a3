// Runs nodletflash-guide for the tests: to its end through a pipe, or on a pseudo-terminal, or
// step by step so that a test can interrupt it part-way.
#pragma once

#include <sys/types.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

/// What a run of the guide printed and how it ended.
struct GuideRun {
  std::string output;
  int status = -1;  // the exit status, or 128 + the signal that ended it
};

/// The guide's arguments after its path, run through a pipe to the end.
GuideRun runGuide(const std::vector<std::string>& args);

/// The JSON objects of a --json run, one per line; a line that is not an object fails the test.
std::vector<nlohmann::json> jsonEvents(const std::string& output);

/// The guide on a pseudo-terminal of 120 columns, with |environment| added (NAME=VALUE).
/// |onOutput| sees all the output so far after every read and may write to the terminal
/// through |typeKeys|; it returns false to stop watching.
GuideRun runGuideOnTerminal(
    const std::vector<std::string>& args, const std::vector<std::string>& environment,
    const std::function<void(const std::string& output,
                             const std::function<void(const std::string&)>& typeKeys)>& onOutput);

/// The same on a pseudo-terminal |columns| wide.
GuideRun runGuideOnTerminalOfWidth(
    const std::vector<std::string>& args, const std::vector<std::string>& environment, int columns,
    const std::function<void(const std::string& output,
                             const std::function<void(const std::string&)>& typeKeys)>& onOutput);

/// Runs the guide through a pipe and calls |onOutput| with everything so far after every read,
/// with the guide's process id to signal. |hangupIgnored|: started as nohup starts it.
GuideRun runGuideWatching(
    const std::vector<std::string>& args,
    const std::function<void(const std::string& output, pid_t guide)>& onOutput,
    bool hangupIgnored = false);

/// The XDG_STATE_HOME of every guide this test process starts: a scratch folder of the
/// process's own, removed when it ends, so that no test writes the user's own record of the
/// modules or meets another test's. Set when the process starts.
const std::string& guideStateHome();

/// A scratch directory for one test, removed with it.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  std::string path;
};

/// Writes a stand-in for the virtual hand into |dir| that appends "<pid> <arguments>" to
/// |dir|/started for each run and then becomes the real one. Returns its path.
std::string recordingSim(const std::string& dir);

/// Writes an executable shell script |body| as |dir|/|name|; returns its path.
std::string writeScript(const std::string& dir, const std::string& name, const std::string& body);

/// The lines of the file |path|, or none.
std::vector<std::string> fileLines(const std::string& path);
