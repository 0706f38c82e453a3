#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "interruption.h"
#include "subprocess.h"

extern char** environ;

namespace {

// What the stop signals' handler touches: a count and the write end of a pipe whose read end
// is in every wait's poll set, so that a stop is seen at once whatever the guide is waiting
// for. Owned by the process, as its signal dispositions are.
volatile sig_atomic_t g_interrupted = 0;
int g_wakeRead = -1;
int g_wakeWrite = -1;
// SIGHUP was ignored when the guide started (nohup): it stays ignored, here and in children.
bool g_hangupIgnored = false;

void onStopSignal(int /*signal*/) {
  int saved = errno;
  g_interrupted = g_interrupted + 1;
  if (g_wakeWrite >= 0) {
    char byte = 1;
    // A full pipe already holds a wake-up: nothing is lost when this write fails.
    ssize_t ignored = write(g_wakeWrite, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

void drainWakeups() {
  char buffer[64];
  while (g_wakeRead >= 0 && read(g_wakeRead, buffer, sizeof(buffer)) > 0) {
  }
}

}  // namespace

struct SubprocessState {
  pid_t pid = -1;
  int fds[2] = {-1, -1};  // standard output, standard error; -1 once at their end
  bool finished = false;
  int status = -1;
  sig_atomic_t interruptionsSeen = 0;  // the interruptions wait() has reported
};

// Collects the child's exit status once it has ended; |block| waits for that. True once it
// has.
bool reap(SubprocessState* state, bool block) {
  if (state->finished || state->pid <= 0) {
    return true;
  }
  int status = 0;
  pid_t got;
  while ((got = waitpid(state->pid, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (got == 0) {
    return false;
  }
  state->finished = true;
  if (got > 0) {
    if (WIFEXITED(status)) {
      state->status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      state->status = 128 + WTERMSIG(status);
    }
  }
  return true;
}

void catchInterruptions() {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
    g_wakeRead = wake[0];
    g_wakeWrite = wake[1];
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  struct sigaction hangup {};
  sigaction(SIGHUP, nullptr, &hangup);
  g_hangupIgnored = hangup.sa_handler == SIG_IGN;
  if (!g_hangupIgnored) {
    sigaction(SIGHUP, &action, nullptr);
  }
  // A reader that closes the guide's output must not end the guide while it holds a child.
  std::signal(SIGPIPE, SIG_IGN);
}

void requestInterruption() {
  // The signal goes to the process: the guide's thread, the only one that lets it in, takes
  // it just as the terminal's.
  kill(getpid(), SIGINT);
}

bool wasInterrupted() {
  return g_interrupted != 0;
}

void interruptionHandled() {}

Subprocess::Subprocess() : state_(std::make_unique<SubprocessState>()) {}

Subprocess::~Subprocess() {
  if (state_->pid > 0 && !state_->finished) {
    kill();
    finish();
  }
  for (int& fd : state_->fds) {
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
  }
}

bool Subprocess::start(const std::vector<std::string>& argv, std::string* error) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Nothing the guide runs reads from the person: its standard input is the null device, so a
  // program that asks for something finds nobody there at once instead of waiting.
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

  // The child gets its own process group, so that a Ctrl-C at the terminal reaches the guide
  // alone and the guide decides what reaches the child; it starts with the dispositions this
  // process had before it caught anything (an ignored SIGHUP stays ignored).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  if (!g_hangupIgnored) {
    sigaddset(&defaults, SIGHUP);
  }
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t mask;
  sigprocmask(SIG_SETMASK, nullptr, &mask);
  posix_spawnattr_setsigmask(&attributes, &mask);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(out[1]);
  close(err[1]);
  if (failed != 0) {
    *error = std::strerror(failed);
    close(out[0]);
    close(err[0]);
    return false;
  }
  state_->pid = pid;
  state_->fds[0] = out[0];
  state_->fds[1] = err[0];
  return true;
}

ChildEvent Subprocess::wait(int timeoutMs) {
  ChildEvent event;
  for (;;) {
    if (g_interrupted != state_->interruptionsSeen) {
      state_->interruptionsSeen = g_interrupted;
      event.kind = ChildEvent::kInterrupted;
      return event;
    }
    pollfd fds[3];
    nfds_t count = 0;
    int which[3];
    for (int i = 0; i < 2; ++i) {
      if (state_->fds[i] >= 0) {
        fds[count].fd = state_->fds[i];
        fds[count].events = POLLIN;
        fds[count].revents = 0;
        which[count] = i;
        ++count;
      }
    }
    bool streamsOpen = count > 0;
    // Both streams at their end is not the child's end: one that closed them and runs on is
    // waited for here, where a stop can still reach it.
    if (!streamsOpen && reap(state_.get(), false)) {
      event.kind = ChildEvent::kClosed;
      return event;
    }
    if (g_wakeRead >= 0) {
      fds[count].fd = g_wakeRead;
      fds[count].events = POLLIN;
      fds[count].revents = 0;
      which[count] = -1;
      ++count;
    }
    int ready = poll(fds, count, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      event.kind = ChildEvent::kClosed;
      return event;
    }
    if (ready == 0) {
      event.kind = ChildEvent::kTimeout;
      return event;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      if (which[i] < 0) {
        drainWakeups();
        break;
      }
      int& fd = state_->fds[which[i]];
      char buffer[4096];
      ssize_t got = read(fd, buffer, sizeof(buffer));
      if (got < 0 && errno == EINTR) {
        break;
      }
      if (got <= 0) {
        close(fd);
        fd = -1;
        break;
      }
      event.kind = ChildEvent::kData;
      event.stream = which[i] == 0 ? ChildStream::kOut : ChildStream::kErr;
      event.bytes.assign(buffer, static_cast<size_t>(got));
      return event;
    }
  }
}

// The stop and the kill go to the child's whole process group: whatever it started goes too.
void Subprocess::interrupt() {
  if (state_->pid > 0 && !state_->finished) {
    ::kill(-state_->pid, SIGINT);
  }
}

void Subprocess::kill() {
  if (state_->pid > 0 && !state_->finished) {
    ::kill(-state_->pid, SIGKILL);
  }
}

int Subprocess::finish() {
  reap(state_.get(), true);
  return state_->status;
}
