// Runs a program, or a function, as a child process and collects its standard output and exit
// status.
#pragma once

#include <functional>
#include <string>
#include <vector>

/// What a child printed on standard output and how it ended (the exit status, or -1 when it
/// did not exit normally).
struct ChildResult {
  std::string output;
  int status = -1;
};

/// Runs |body| in a forked child with standard input from /dev/null and standard output to a
/// pipe; the child exits with what |body| returns, unless |body| exits itself.
ChildResult runInChild(const std::function<int()>& body);

/// Runs the program |argv| (argv[0] is the program path) in a child.
ChildResult runChild(const std::vector<std::string>& argv);
