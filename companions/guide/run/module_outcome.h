// One module of a guided update: what it is, how far its run got and how it ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// What a module holds after a turn of the guide, as far as the run can know it from the frames
/// that reached the module and how the run ended.
enum class Holds {
  kUnchanged,    // no frame that starts a download reached it: the firmware it had
  kMayBeErased,  // the start of a download may have reached it, no character of the file did
  kPartWay,      // some of the file's characters reached it, not all
  kWritten,      // every character of the file was sent
};

/// What this computer last did to a module, as its record across runs keeps it.
struct ModuleRecord {
  bool known = false;  // the record has an entry for the module
  Holds holds = Holds::kUnchanged;
  std::string utc;     // when, as 2026-12-09T14:02:11Z
  std::string file;    // the firmware file, as it was named
  std::string sha256;  // its SHA-256, in lower-case hex
  std::string set;     // the name of the firmware set the file came from; empty when none
};

/// A module to flash, as the command line named it.
struct ModuleInfo {
  int index = 0;              // from 0, in the order given
  int count = 1;              // how many modules the command line names
  std::string nodeText;       // the node number as typed, passed to the tool unchanged
  std::string path;           // the firmware file, passed to the tool unchanged
  int node = 0;               // the node number by the tool's rule; 0 when it is not valid
  std::string name;           // "Finger 1" ... "Spread"; empty when the node number is not valid
  std::string rehearsal;      // the virtual hand's scenario when rehearsing, else empty
  std::string logPath;        // the log this module's turn is written to; empty when none
  std::string originalName;   // chosen on the window's page: the file's name on the person's
                              // computer; else empty
  ModuleRecord recordBefore;  // this computer's record of the module when the run began
  std::string set;            // the name of the hand's firmware set (--set) the file comes from;
                              // empty when the module was named on the command line
  std::string setSha256;      // the file's SHA-256 as the set gives it; empty without a set
};

/// How far a run of the tool got, told from its messages.
enum class Stage {
  kChecks,      // the checks; the tool has not been started
  kStarting,    // the tool is loading the file, opening the adapter, raising its priority
  kPowerCycle,  // the person was asked to switch the hand off and on
  kDownload,    // the download has begun: the module is being rewritten
  kClosing,     // every character was sent
};

/// How a module's turn ended.
enum class Result {
  kDone,         // the tool ended with status 0
  kFailed,       // the tool ended with another status
  kRefused,      // the checks found a problem; the tool was not started
  kNotStarted,   // the tool could not be started
  kInterrupted,  // the person stopped the guide
  kSkipped,      // another module failed or was refused, so this one was left alone
  kPowerFailed,  // a power command failed, or the hand did not follow it: the guide stopped
};

/// A module's turn as it ended.
struct ModuleOutcome {
  Result result = Result::kSkipped;
  Stage stage = Stage::kChecks;
  bool haveStatus = false;  // the tool ran and its exit status is known
  int status = 0;
  double seconds = 0;                     // how long the module's turn took, checks included
  std::string reason;                     // kNotStarted, kSkipped, kPowerFailed: why
  Holds holds = Holds::kUnchanged;        // what the module holds now
  int64_t charactersSent = 0;             // the file's characters known to have reached the module
  bool charactersExact = true;            // |charactersSent| is the count, not only a least one
  ModuleRecord recordAfter;               // this computer's record of the module after the turn
  std::string recordWarning;              // why the record could not be written; empty when it was
  bool toolGaveError = false;             // the tool printed an ERROR line
  std::vector<std::string> overridden;    // the problems --force overrode
  std::vector<std::string> fileProblems;  // kRefused: the problems of the file or node
  bool finalPowerCycleDone = false;       // kDone: the guide's power commands made the final one
  bool guideSwitches = false;             // the guide's power commands switch the hand
  bool killed = false;        // kInterrupted: the tool did not end within its grace and was killed
  std::string interfaceName;  // then: the interface it may have left changed; empty when none
};

/// How long an interrupted tool is given to end before it is killed: on Linux long enough for the
/// tool to put the interface back as it found it (its stop, bit timing and start, each of which a
/// stalled USB adapter may take seconds over), even when the interruption finds it in the middle
/// of such a change. On Windows the tool has no interface to put back (the adapter's channel
/// closes with the process), and Wine passes no Ctrl-Break on, so the tool is ended sooner. A
/// second Ctrl-C does not shorten it.
#ifdef _WIN32
inline constexpr double kInterruptGraceSeconds = 5.0;
#else
inline constexpr double kInterruptGraceSeconds = 20.0;
#endif

/// The word for |stage| and |result| in the JSON feed and the log.
const char* stageName(Stage stage);
const char* resultName(Result result);
/// "unchanged", "may-be-erased", "part-way", "written": the word for |holds| in the feed and log.
const char* holdsName(Holds holds);

/// What the module holds after the turn, in the one sentence every face gives for its state
/// (with what this computer's record says when the turn sent nothing).
std::string holdsWords(const ModuleInfo& module, const ModuleOutcome& outcome);

/// What the outcome means for the module and what to do, in the words a person is shown.
std::string outcomeMeaning(const ModuleInfo& module, const ModuleOutcome& outcome);

/// The guide's exit statuses besides 0 and the tool's own.
inline constexpr int kRefusedStatus = 1;        // refused, not started or skipped
inline constexpr int kInterruptedStatus = 130;  // the person stopped the guide
inline constexpr int kPowerFailedStatus = 3;    // the guide's own power cycle failed

/// The guide's exit status for a module that did not complete: 130 when the person stopped it,
/// else the tool's own failure status, else 1.
int guideExitStatus(const ModuleOutcome& outcome);

/// "12 (Finger 2)", or the node number as typed when it is not valid.
std::string moduleLabel(const ModuleInfo& module);
