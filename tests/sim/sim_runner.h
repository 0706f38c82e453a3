// Running nodletflash-sim as a child process and reading what it reports.
#pragma once

#include <map>
#include <string>
#include <vector>

/// What one run of the simulator left: its standard output, its exit status and its report.
struct SimRun {
  std::string out;
  int status = -1;  // the exit status, or -1 when the child did not exit normally
  std::map<std::string, std::string> report;  // key to value: numbers as text, strings unescaped

  /// A report value read as a number; fails the test when it is missing.
  double number(const std::string& key) const;
  /// A report value; fails the test when it is missing.
  std::string text(const std::string& key) const;
};

/// The simulator's path, as the test passes it as the program path.
std::string simPath();

/// A simulator started with its standard output on a pipe.
struct SimChild {
  int pid = -1;
  int out = -1;  // the read end of the pipe
};

/// Starts the simulator with |args| after the program path.
SimChild spawnSim(const std::vector<std::string>& args);

/// Runs the simulator with |args| after the program path and waits for it to end. Unless
/// |args| names a report, one is written to a fresh file and read back.
SimRun runSim(std::vector<std::string> args);

/// Reads a flat JSON object of strings and numbers. False when it is not one.
bool parseFlatJson(const std::string& text, std::map<std::string, std::string>* values);

/// Every line's payload of the firmware file at |path|, concatenated: the characters from the
/// second one on, up to the first character below "0".
std::string imagePayload(const std::string& path);
/// The number of lines of the file at |path| with a payload.
int imageRecords(const std::string& path);
