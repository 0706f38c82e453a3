#include "child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Reads the child's output to its end and waits for it.
ChildResult collect(pid_t pid, int out) {
  ChildResult result;
  char buffer[4096];
  ssize_t got;
  while ((got = read(out, buffer, sizeof(buffer))) > 0) {
    result.output.append(buffer, static_cast<size_t>(got));
  }
  close(out);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace

ChildResult runInChild(const std::function<int()>& body) {
  int out[2];
  if (pipe(out) != 0) {
    return ChildResult{};
  }
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    int status = body();
    std::fflush(stdout);
    _exit(status);
  }
  close(out[1]);
  return collect(pid, out[0]);
}

ChildResult runChild(const std::vector<std::string>& argv) {
  // Spawned rather than forked: a test process under AddressSanitizer is slow to fork.
  int out[2];
  if (pipe(out) != 0) {
    return ChildResult{};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::vector<char*> args;
  args.reserve(argv.size() + 4);
#ifdef CHILD_EMULATOR
  // A cross build's programs run under the emulator that runs the tests themselves, named here
  // as its program and its arguments (no binfmt registration takes them there by itself).
  static std::vector<std::string> emulator = {CHILD_EMULATOR};
  for (std::string& arg : emulator) {
    args.push_back(arg.data());
  }
#endif
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = 0;
  int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (failed != 0) {
    close(out[0]);
    return ChildResult{};
  }
  return collect(pid, out[0]);
}
