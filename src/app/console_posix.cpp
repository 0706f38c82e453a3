#include <csignal>

#include "app/console.h"

void prepareConsole() {
  // A supervising program that closes its end of the pipe would otherwise end the process with
  // SIGPIPE in the middle of a download; writes to it are ignored instead.
  std::signal(SIGPIPE, SIG_IGN);
}
