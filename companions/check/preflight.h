// The checks made before a hand is touched: the firmware file, and this computer's CAN set-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// How much a finding matters: kProblem would stop a good download.
enum class Severity { kOk, kWarning, kProblem };

/// One thing found: what it is about ("node", "file", "record", "interface", "driver",
/// "privileges", "lock", "bus", "library", ...), what was found, and where in the file (line
/// and column from 1; 0 when the finding is not about one place).
struct Finding {
  Severity severity = Severity::kOk;
  std::string topic;
  std::string text;
  int line = 0;
  int column = 0;
};

/// What the firmware file holds, as the tool will send it.
struct ImageSummary {
  int lineCount = 0;  // the tool's own line count (progress is reported against it)
  int records = 0;    // lines that begin with a record mark, sound or not
  int dataRecords = 0;
  int terminationRecords = 0;
  int symbolRecords = 0;
  int64_t dataBytes = 0;
  uint64_t lowAddress = 0;   // lowest data address; meaningful when dataBytes > 0
  uint64_t highAddress = 0;  // highest data address (inclusive)
  int64_t payloadChars = 0;  // characters the tool will send, one frame each
  /// payloadBefore[k] = characters sent before line k + 1 begins (k from 0); lineCount + 1
  /// entries, the last one equal to payloadChars.
  std::vector<int64_t> payloadBefore;
  /// Expected time of the whole run from the power-on answer to the closing line, at 1 Mbit/s:
  /// the tool's fixed sleeps plus the payload's bus time. An estimate.
  double estimatedSeconds = 0;
};

/// What to check, as the command line gave it.
struct PreflightOptions {
  std::string nodeText;  // the node number as typed
  std::string path;      // the firmware file
  bool imageOnly = false;
  int listenMs = 1000;
  std::string toolPath;  // --tool; empty: next to this program, then PATH
  std::string selfPath;  // argv[0] of the running companion, to find the tool next to it
};

/// Everything found, in the order it was looked at.
struct PreflightResult {
  std::vector<Finding> findings;
  bool haveSummary = false;  // false when the file could not be loaded
  ImageSummary summary;
  int node = 0;  // the node number by the tool's rule; 0 when invalid
};

/// The node number and the firmware file only; touches no hardware.
PreflightResult checkNodeAndImage(const std::string& nodeText, const std::string& path);

/// This computer's set-up for the tool; never writes a frame, never changes an interface.
/// Appends to |result|.
void checkComputer(const PreflightOptions& options, PreflightResult* result);

/// Both, as the options ask.
PreflightResult runPreflight(const PreflightOptions& options);

/// True when some finding is a problem.
bool hasProblem(const PreflightResult& result);
