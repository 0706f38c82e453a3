#include "app/status_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "can/can_port.h"

namespace {

// The adapter channel of this process, owned by the run for its whole life.
CanPort* g_held_channel = nullptr;

}  // namespace

void printStatus(const char* format, ...) {
  va_list args;
  va_start(args, format);
  // The analyzer loses track of va_start through the format attribute's declaration.
  std::vprintf(format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
  va_end(args);
  std::fflush(stdout);
}

void holdChannel(CanPort* port) {
  g_held_channel = port;
}

void endRun(bool failed) {
  // Release the channel rather than leave it to the process exit; a channel that was never
  // opened, or that the download has already closed, gets no adapter call.
  if (g_held_channel != nullptr && g_held_channel->isOpen()) {
    g_held_channel->close();
  }
  printStatus(failed ? "Program ended unsuccessfully.\n" : "Program ended successfully.\n");
  std::exit(failed ? 1 : 0);
}
