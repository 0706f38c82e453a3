#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "terminal.h"

TerminalFacts inspectTerminal(std::FILE* out) {
  TerminalFacts facts;
  const char* term = std::getenv("TERM");
  facts.smart = isatty(fileno(out)) == 1 && term != nullptr && term[0] != '\0' &&
                std::strcmp(term, "dumb") != 0;
  facts.width = terminalWidth(out);
  return facts;
}

int terminalWidth(std::FILE* out) {
  winsize size{};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}
