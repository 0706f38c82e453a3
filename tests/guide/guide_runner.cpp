#include "guide_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

int statusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) {
    return WEXITSTATUS(waitStatus);
  }
  return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : -1;
}

std::vector<char*> argvOf(std::vector<std::string>& words) {
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  return argv;
}

std::vector<std::string> commandOf(const std::vector<std::string>& args) {
  std::vector<std::string> words{GUIDE_PATH};
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

// Reads |fd| until its end, or until nothing comes for a minute.
void readAll(int fd, pid_t pid, GuideRun* run,
             const std::function<void(const std::string&)>& afterRead) {
  char buffer[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    int got = poll(&ready, 1, 60000);
    if (got == 0) {
      ADD_FAILURE() << "the guide said nothing for a minute; output so far:\n" << run->output;
      kill(pid, SIGKILL);
      break;
    }
    if (got < 0 && errno == EINTR) {
      continue;
    }
    ssize_t count = read(fd, buffer, sizeof(buffer));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;  // the end, or EIO once the terminal's last user has gone
    }
    run->output.append(buffer, static_cast<size_t>(count));
    afterRead(run->output);
  }
}

// The scratch state folder, made and put in the environment before any test runs.
struct StateHome {
  StateHome() {
    char folder[] = "/tmp/guide-state-XXXXXX";
    if (mkdtemp(folder) != nullptr) {
      path = folder;
      setenv("XDG_STATE_HOME", folder, 1);
    }
  }
  ~StateHome() {
    if (!path.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  }
  std::string path;
};

const StateHome& stateHome() {
  static StateHome home;
  return home;
}

// Made at start-up, before any guide is started.
[[maybe_unused]] const bool kStateHomeSet = !stateHome().path.empty();

}  // namespace

const std::string& guideStateHome() {
  return stateHome().path;
}

GuideRun runGuideWatching(const std::vector<std::string>& args,
                          const std::function<void(const std::string&, pid_t)>& onOutput,
                          bool hangupIgnored) {
  GuideRun run;
  int out[2];
  if (pipe(out) != 0) {
    ADD_FAILURE() << "no pipe";
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::vector<std::string> words = commandOf(args);
  std::vector<char*> argv = argvOf(words);
  pid_t pid = -1;
  // The disposition the guide starts with is this process's: an ignored SIGHUP is inherited.
  struct sigaction hangup {};
  struct sigaction before {};
  hangup.sa_handler = hangupIgnored ? SIG_IGN : SIG_DFL;
  sigaction(SIGHUP, &hangup, &before);
  int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  sigaction(SIGHUP, &before, nullptr);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (failed != 0) {
    close(out[0]);
    ADD_FAILURE() << "cannot start " << argv[0];
    return run;
  }
  readAll(out[0], pid, &run, [&](const std::string& output) { onOutput(output, pid); });
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = statusOf(status);
  return run;
}

GuideRun runGuide(const std::vector<std::string>& args) {
  return runGuideWatching(args, [](const std::string&, pid_t) {});
}

GuideRun runGuideOnTerminal(
    const std::vector<std::string>& args, const std::vector<std::string>& environment,
    const std::function<void(const std::string&, const std::function<void(const std::string&)>&)>&
        onOutput) {
  return runGuideOnTerminalOfWidth(args, environment, 120, onOutput);
}

GuideRun runGuideOnTerminalOfWidth(
    const std::vector<std::string>& args, const std::vector<std::string>& environment, int columns,
    const std::function<void(const std::string&, const std::function<void(const std::string&)>&)>&
        onOutput) {
  GuideRun run;
  std::vector<std::string> words = commandOf(args);
  std::vector<char*> argv = argvOf(words);
  winsize size{};
  size.ws_row = 40;
  size.ws_col = static_cast<unsigned short>(columns);
  int terminal = -1;
  pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
  if (pid < 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return run;
  }
  if (pid == 0) {
    for (const std::string& variable : environment) {
      putenv(const_cast<char*>(variable.c_str()));
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  const auto typeKeys = [terminal](const std::string& keys) {
    ASSERT_EQ(write(terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  };
  readAll(terminal, pid, &run, [&](const std::string& output) { onOutput(output, typeKeys); });
  close(terminal);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = statusOf(status);
  return run;
}

// Every line of |output| against the feed's schema, by Debian's python3-jsonschema.
void expectValidFeed(const std::string& output) {
  char path[] = "/tmp/guide-feed.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, output.data(), output.size()), static_cast<ssize_t>(output.size()));
  close(fd);
  std::string command = std::string("'") + PYTHON3_PATH + "' '" + FEED_VALIDATOR + "' '" +
                        FEED_SCHEMA + "' < " + path + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string report;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    report.append(buffer, got);
  }
  int status = pclose(pipe);
  unlink(path);
  EXPECT_EQ(status, 0) << "the feed does not hold to its schema:\n" << report;
}

std::vector<nlohmann::json> jsonEvents(const std::string& output) {
  expectValidFeed(output);
  std::vector<nlohmann::json> events;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object()) << "not a JSON object: " << line;
    if (event.is_object()) {
      events.push_back(event);
    }
  }
  return events;
}

ScratchDir::ScratchDir() {
  char pattern[] = "/tmp/guide-test.XXXXXX";
  path = mkdtemp(pattern);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string recordingSim(const std::string& dir) {
  std::string script = dir + "/nodletflash-sim";
  std::ofstream out(script);
  out << "#!/bin/sh\necho \"$$ $*\" >> '" << dir << "/started'\nexec '" << SIM_PATH << "' \"$@\"\n";
  out.close();
  chmod(script.c_str(), 0755);
  return script;
}

std::string writeScript(const std::string& dir, const std::string& name, const std::string& body) {
  std::string script = dir + "/" + name;
  std::ofstream out(script);
  out << "#!/bin/sh\n" << body;
  out.close();
  chmod(script.c_str(), 0755);
  return script;
}

std::vector<std::string> fileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}
