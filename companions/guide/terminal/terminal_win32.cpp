#include <io.h>
#include <windows.h>

#include "terminal.h"

namespace {

HANDLE consoleOf(std::FILE* out) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
}

}  // namespace

TerminalFacts inspectTerminal(std::FILE* out) {
  TerminalFacts facts;
  HANDLE console = consoleOf(out);
  DWORD mode = 0;
  // A console that takes escape sequences (Windows 10 and later) is smart; an older console,
  // a pipe or a file gets plain lines.
  if (GetConsoleMode(console, &mode) != 0) {
    facts.smart = SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  }
  facts.width = terminalWidth(out);
  return facts;
}

int terminalWidth(std::FILE* out) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(consoleOf(out), &info) != 0) {
    int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width > 0) {
      return width;
    }
  }
  return 80;
}
