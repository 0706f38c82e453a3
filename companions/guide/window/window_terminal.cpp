#include "window_terminal.h"

#include "module_outcome.h"
#include "terminal_view.h"

const char* const kWindowTerminalHowToEnd =
    "To end the guide: \"Close the guide\" on the page, or Ctrl-C here. Closing the page does "
    "not end it: it waits here for a page until then.";

std::string windowTerminalIntro(const std::string& logPlace) {
  return "Keep this terminal open while you use the page: the guide runs here. Closing it, or "
         "Ctrl-C here, ends the guide as Cancel does.\n" +
         (logPlace.empty() ? std::string("No log is kept (--no-log).") : "Logs: " + logPlace + ".");
}

void WindowTerminal::moduleBegins(const ModuleInfo& module, double /*seconds*/) {
  printer_->print(printer_->paint(
      "Module " + moduleLabel(module) + ": its turn begins (see the page)", Colour::kBold));
}

void WindowTerminal::moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome,
                                double /*seconds*/) {
  for (const PaintedLine& line : moduleEndLines(module, outcome)) {
    printer_->print(printer_->paint(line.text, line.colour));
  }
}
