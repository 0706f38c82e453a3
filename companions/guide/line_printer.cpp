#include "line_printer.h"

#include "terminal.h"

namespace {

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

// The number of columns |text| takes: every byte but the continuation bytes of UTF-8.
size_t columns(const std::string& text) {
  size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++count;
    }
  }
  return count;
}

}  // namespace

LinePrinter::LinePrinter(std::FILE* out, bool noColour) : out_(out) {
  TerminalFacts facts = inspectTerminal(out);
  smart_ = facts.smart;
  colour_ = smart_ && !noColour;
}

int LinePrinter::width() const {
  return terminalWidth(out_);
}

void LinePrinter::write(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), out_);
  std::fflush(out_);
}

void LinePrinter::print(const std::string& text) {
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
