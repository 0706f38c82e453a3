// What the guide's standard output is connected to.
#pragma once

#include <cstdio>

/// Whether standard output can show a live, redrawn line.
struct TerminalFacts {
  bool smart = false;  // a terminal that understands cursor and colour sequences
  int width = 80;      // its width in columns
};

/// Looks at |out|: a terminal whose TERM is not "dumb" (on Windows, a console that takes
/// escape sequences) is smart; a pipe or a file never is.
TerminalFacts inspectTerminal(std::FILE* out);

/// The terminal's width now, for a terminal that may have been resized.
int terminalWidth(std::FILE* out);
