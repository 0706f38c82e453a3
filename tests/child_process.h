// Runs a program as a child process and collects its standard output and exit status.
#pragma once

#include <string>
#include <vector>

/// What a child printed on standard output and how it ended (the exit status, or -1 when it
/// did not exit normally).
struct ChildResult {
  std::string output;
  int status = -1;
};

/// Runs |argv| (argv[0] is the program path) with standard input from /dev/null.
ChildResult runChild(const std::vector<std::string>& argv);
