#include "line_printer.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#endif

namespace {

// What |out| is connected to, told as each platform tells it; the differences are small.
#ifdef _WIN32
HANDLE consoleOf(std::FILE* out) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
}

// A console that takes escape sequences (Windows 10 and later) is smart; an older console, a
// pipe or a file gets plain lines.
bool isSmartTerminal(std::FILE* out) {
  HANDLE console = consoleOf(out);
  DWORD mode = 0;
  return GetConsoleMode(console, &mode) != 0 &&
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// The terminal's width now, for a terminal that may have been resized.
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
#else
// A terminal whose TERM is not "dumb" is smart; a pipe or a file never is.
bool isSmartTerminal(std::FILE* out) {
  const char* term = std::getenv("TERM");
  return isatty(fileno(out)) == 1 && term != nullptr && term[0] != '\0' &&
         std::strcmp(term, "dumb") != 0;
}

// The terminal's width now, for a terminal that may have been resized.
int terminalWidth(std::FILE* out) {
  winsize size{};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}
#endif

// Erases the line the cursor is on and puts the cursor at its start.
constexpr const char kEraseLine[] = "\r\x1b[K";

const char* colourCode(Colour colour) {
  switch (colour) {
    case Colour::kNone:
      return "";
    case Colour::kRed:
      return "\x1b[1;31m";
    case Colour::kGreen:
      return "\x1b[1;32m";
    case Colour::kYellow:
      return "\x1b[1;33m";
    case Colour::kCyan:
      return "\x1b[1;36m";
    case Colour::kBold:
      return "\x1b[1m";
    case Colour::kDim:
      return "\x1b[2m";
  }
  return "";
}

// The number of columns |text| takes: every byte but the continuation bytes of UTF-8 and the
// escape sequences that set colours.
size_t columns(const std::string& text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b') {
      while (i < text.size() && text[i] != 'm') {
        ++i;
      }
      continue;
    }
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++count;
    }
  }
  return count;
}

// How far a line's continuations are indented: as far as its own text begins, past its
// leading spaces and a list mark ("- ", "-> ", ">> ").
size_t hangingIndent(const std::string& painted) {
  std::string text;
  for (size_t i = 0; i < painted.size(); ++i) {
    if (painted[i] == '\x1b') {
      while (i < painted.size() && painted[i] != 'm') {
        ++i;
      }
    } else {
      text += painted[i];
    }
  }
  size_t indent = 0;
  while (indent < text.size() && text[indent] == ' ') {
    ++indent;
  }
  for (const char* mark : {"- ", "-> ", ">> "}) {
    if (text.compare(indent, std::char_traits<char>::length(mark), mark) == 0) {
      return indent + std::char_traits<char>::length(mark);
    }
  }
  return indent;
}

}  // namespace

std::string wrapText(const std::string& text, size_t width) {
  if (width < 20 || columns(text) <= width) {
    return text;
  }
  size_t indent = hangingIndent(text);
  // Words are what single spaces separate: runs of spaces (the padding of columns) come back
  // as empty words and are kept.
  std::string out;
  std::string line;
  bool first = true;
  size_t start = 0;
  for (;;) {
    size_t space = text.find(' ', start);
    size_t end = space == std::string::npos ? text.size() : space;
    std::string word = text.substr(start, end - start);
    if (first) {
      line = word;
      first = false;
    } else if (!word.empty() && columns(line) > indent &&
               columns(line) + 1 + columns(word) > width) {
      out += line + "\n";
      line = std::string(indent, ' ') + word;
    } else {
      line += " " + word;
    }
    if (space == std::string::npos) {
      break;
    }
    start = space + 1;
  }
  return out + line;
}

LinePrinter::LinePrinter(std::FILE* out, bool noColour) : out_(out) {
  smart_ = isSmartTerminal(out);
  colour_ = smart_ && !noColour;
}

int LinePrinter::width() const {
  return terminalWidth(out_);
}

void LinePrinter::write(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), out_);
  std::fflush(out_);
}

void LinePrinter::print(const std::string& plain) {
  // On a terminal, long lines break between words; through a pipe they stay whole.
  std::string text = smart_ ? wrapText(plain, static_cast<size_t>(terminalWidth(out_)) - 1) : plain;
  if (!live_.empty()) {
    std::string live = live_;
    write(kEraseLine + text + "\n");
    live_.clear();
    setLive(live);
    return;
  }
  write(text + "\n");
}

void LinePrinter::setLive(const std::string& text) {
  if (!smart_) {
    return;
  }
  std::string shown = text;
  // One column is left free, so that a line of the full width does not wrap.
  size_t width = static_cast<size_t>(terminalWidth(out_));
  if (width > 1 && columns(shown) > width - 1) {
    while (!shown.empty() && columns(shown) > width - 4) {
      shown.pop_back();
    }
    shown += "...";
  }
  write(kEraseLine + shown);
  live_ = shown.empty() ? " " : shown;
}

void LinePrinter::keepLive() {
  if (!live_.empty()) {
    write("\n");
    live_.clear();
  }
}

void LinePrinter::clearLive() {
  if (!live_.empty()) {
    write(kEraseLine);
    live_.clear();
  }
}

std::string LinePrinter::paint(const std::string& text, Colour colour) const {
  if (!colour_ || colour == Colour::kNone) {
    return text;
  }
  return colourCode(colour) + text + "\x1b[0m";
}
