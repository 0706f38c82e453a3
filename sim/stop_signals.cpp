#include "stop_signals.h"

#include <csignal>
#include <cstdlib>

namespace {

// Written by the handler, read by the run: the process's own.
volatile std::sig_atomic_t g_caught = 0;

extern "C" void noteStop(int signal) {
  g_caught = signal;
}

void catchOne(int signal) {
  if (std::signal(signal, noteStop) == SIG_IGN) {
    std::signal(signal, SIG_IGN);
  }
}

}  // namespace

void catchStopSignals() {
  catchOne(SIGTERM);
  catchOne(SIGINT);
#ifdef SIGHUP
  catchOne(SIGHUP);
#endif
#ifdef SIGBREAK
  catchOne(SIGBREAK);
#endif
}

int caughtStopSignal() {
  return static_cast<int>(g_caught);
}

void endBySignal(int signal) {
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  // Only should the signal not end the process.
  std::_Exit(128 + signal);
}
