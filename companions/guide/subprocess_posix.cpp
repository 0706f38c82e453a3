#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "subprocess.h"

extern char** environ;

namespace {

// Counted by the handler of the signals that ask this process to stop; the process owns it.
volatile sig_atomic_t g_interrupted = 0;

// The signal mask before catchInterruptions blocked the stop signals: waits run with it, and
// children start with it.
sigset_t g_old_mask;
bool g_catching = false;

void onStopSignal(int /*signal*/) {
  g_interrupted = g_interrupted + 1;
}

void addStopSignals(sigset_t* set) {
  sigaddset(set, SIGINT);
  sigaddset(set, SIGTERM);
  sigaddset(set, SIGHUP);
}

}  // namespace

struct SubprocessState {
  pid_t pid = -1;
  int fds[2] = {-1, -1};  // standard output, standard error; -1 once at their end
  bool finished = false;
  int status = -1;
  sig_atomic_t interruptionsSeen = 0;  // the interruptions wait() has reported
};

void catchInterruptions() {
  // The stop signals stay blocked except inside wait()'s ppoll, so a signal can neither slip
  // in between a check of the flag and the wait nor cut a write to the log or the screen.
  sigset_t set;
  sigemptyset(&set);
  addStopSignals(&set);
  sigprocmask(SIG_BLOCK, &set, &g_old_mask);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // A reader that closes the guide's output must not end the guide while it holds a child.
  std::signal(SIGPIPE, SIG_IGN);
  g_catching = true;
}

void requestInterruption() {
  // The signal goes to the process: the guide's thread, the only one that lets it in, takes
  // it just as the terminal's.
  kill(getpid(), SIGINT);
}

bool wasInterrupted() {
  if (g_catching) {
    // Lets a pending stop signal in, and its handler run, then blocks them again.
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
        sigismember(&pending, SIGHUP) == 1) {
      sigset_t blocked;
      sigprocmask(SIG_SETMASK, &g_old_mask, &blocked);
      sigprocmask(SIG_SETMASK, &blocked, nullptr);
    }
  }
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
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

  // The child gets its own process group, so that a Ctrl-C at the terminal reaches the guide
  // alone and the guide decides what reaches the child; it starts with the signal mask and
  // dispositions this process had before it caught anything.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  addStopSignals(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t mask;
  if (g_catching) {
    mask = g_old_mask;
  } else {
    sigprocmask(SIG_SETMASK, nullptr, &mask);
  }
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
    pollfd fds[2];
    nfds_t count = 0;
    int which[2];
    for (int i = 0; i < 2; ++i) {
      if (state_->fds[i] >= 0) {
        fds[count].fd = state_->fds[i];
        fds[count].events = POLLIN;
        fds[count].revents = 0;
        which[count] = i;
        ++count;
      }
    }
    if (count == 0) {
      event.kind = ChildEvent::kClosed;
      return event;
    }
    timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
    int ready = ppoll(fds, count, &timeout, g_catching ? &g_old_mask : nullptr);
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

void Subprocess::interrupt() {
  if (state_->pid > 0 && !state_->finished) {
    ::kill(state_->pid, SIGINT);
  }
}

void Subprocess::kill() {
  if (state_->pid > 0 && !state_->finished) {
    ::kill(state_->pid, SIGKILL);
  }
}

int Subprocess::finish() {
  if (state_->finished || state_->pid <= 0) {
    return state_->status;
  }
  int status = 0;
  while (waitpid(state_->pid, &status, 0) < 0) {
    if (errno != EINTR) {
      state_->finished = true;
      return state_->status;
    }
  }
  state_->finished = true;
  if (WIFEXITED(status)) {
    state_->status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    state_->status = 128 + WTERMSIG(status);
  }
  return state_->status;
}
