#include "terminal_view.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "figures_text.h"
#include "module_records.h"
#include "power_cycle_text.h"
#include "power_cycle_words.h"
#include "power_driver.h"
#include "redo_command.h"
#include "troubleshooting.h"

namespace {

// The live line is drawn at most this often.
constexpr double kRedrawInterval = 0.1;
constexpr int kBarWidth = 24;
// Plain lines are not cut: the whole wording.
constexpr int kPlainWidth = 1000;

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), pattern, value);
  return text;
}

bool isPowerCycleInstruction(const ToolMessage& message) {
  return message.milestone == Milestone::kPowerCycleAsked;
}

}  // namespace

std::string progressLine(const ProgressFigures& figures, int width) {
  // The bar moves with the characters sent when the file's shape is known: the tool's
  // percentage counts lines, which differ in length.
  double share = figures.percent / 100.0;
  if (figures.characters >= 0 && figures.totalCharacters > 0) {
    share = static_cast<double>(figures.characters) / static_cast<double>(figures.totalCharacters);
  }
  share = std::max(0.0, std::min(1.0, share));
  std::string percent = format("%5.1f%%", figures.percent);
  std::string count;
  std::string shortCount;
  if (figures.characters >= 0 && figures.totalCharacters >= 0) {
    count = withThousands(figures.characters) + " of " + withThousands(figures.totalCharacters) +
            " characters";
    shortCount =
        withThousands(figures.characters) + "/" + withThousands(figures.totalCharacters) + " chars";
  }
  std::string pace;
  if (figures.charsPerSecond >= 0) {
    pace = withThousands(std::llround(figures.charsPerSecond)) + "/s";
  }
  std::string left;
  if (figures.secondsLeft >= 0) {
    left = format("%.0f s left", std::ceil(figures.secondsLeft));
  }

  // The fullest wording that fits the width; the time left goes last of all.
  struct Wording {
    const std::string* count;
    int bar;
    bool pace;
  };
  const Wording wordings[] = {
      {&count, kBarWidth, true},          {&shortCount, kBarWidth, true},
      {&shortCount, kBarWidth / 2, true}, {&shortCount, kBarWidth / 2, false},
      {nullptr, kBarWidth / 2, false},    {nullptr, kBarWidth / 4, false},
  };
  std::string line;
  for (const Wording& wording : wordings) {
    int filled = static_cast<int>(share * wording.bar);
    // Appended piece by piece: prefixing a temporary ("[" + std::string(...)) makes GCC 12 at
    // -O3 warn of an overlapping copy that cannot happen.
    line = "[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(wording.bar - filled), '-');
    line += "] ";
    line += percent;
    const std::string* pieces[] = {wording.count, wording.pace ? &pace : nullptr, &left};
    for (const std::string* piece : pieces) {
      if (piece != nullptr && !piece->empty()) {
        line += "  " + *piece;
      }
    }
    if (static_cast<int>(line.size()) <= width) {
      break;
    }
  }
  return line;
}

void TerminalView::powerCycleShared(const ModuleInfo& done, const ModuleInfo& next,
                                    double /*seconds*/) {
  printer_->print(printer_->paint(
      "One power cycle completes module " + moduleLabel(done) + " and starts module " +
          moduleLabel(next) +
          (guideSwitches_ ? ": the guide's power commands make it."
                          : ": when asked below to power the hand off and on, do it once."),
      Colour::kBold));
}

void TerminalView::showRecords(const std::vector<ModuleInfo>& modules, const std::string& warning) {
  if (!warning.empty()) {
    printer_->print(printer_->paint("warning: " + warning, Colour::kYellow));
  }
  for (const ModuleInfo& module : modules) {
    std::string note = recordNote(module);
    if (!note.empty()) {
      printer_->print(printer_->paint(note, Colour::kYellow));
    }
  }
}

void TerminalView::moduleBegins(const ModuleInfo& module, double /*seconds*/) {
  std::string title = "Module " + moduleLabel(module) + ": " + module.path;
  if (module.count > 1) {
    title += "  [" + std::to_string(module.index + 1) + " of " + std::to_string(module.count) + "]";
  }
  if (!rehearsal_.empty()) {
    title += "  (rehearsal with the virtual hand: " + rehearsal_ + ")";
  }
  printer_->print(printer_->paint(title, Colour::kBold));
  instructionAt_ = -1;
  hand_ = HandState();
  plainWaitShown_ = 0;
  downloading_ = false;
  lastDrawn_ = -1;
  plainTenthShown_ = -1;
}

void TerminalView::checked(const ModuleInfo& /*module*/, const PreflightResult& checks,
                           bool refused, double /*seconds*/) {
  for (const Finding& finding : checks.findings) {
    std::string where;
    if (finding.line > 0) {
      where = " (line " + std::to_string(finding.line) + ", column " +
              std::to_string(finding.column) + ")";
    }
    std::string text = finding.topic + ": " + finding.text + where;
    switch (finding.severity) {
      case Severity::kOk:
        printer_->print("  " + printer_->paint("ok      ", Colour::kGreen) + text);
        break;
      case Severity::kWarning:
        printer_->print("  " + printer_->paint("warning ", Colour::kYellow) + text);
        break;
      case Severity::kProblem:
        printer_->print("  " + printer_->paint("problem ", Colour::kRed) + text);
        break;
    }
  }
  if (checks.haveSummary) {
    printer_->print("  " + imageSummarySentence(checks.summary));
  }
  if (!refused) {
    return;
  }
  bool nodeProblem = false;
  bool fileProblem = false;
  for (const Finding& finding : checks.findings) {
    if (finding.severity == Severity::kProblem) {
      bool aboutNode = finding.topic == "node";
      bool aboutFile = finding.topic == "file" || finding.topic == "record";
      nodeProblem = nodeProblem || aboutNode;
      fileProblem = fileProblem || aboutFile;
    }
  }
  if (fileProblem || nodeProblem) {
    std::string what;
    if (nodeProblem) {
      what +=
          " Give the module's node number: 11 (Finger 1), 12 (Finger 2), 13 (Finger 3) or "
          "14 (Spread).";
    }
    if (fileProblem) {
      what +=
          " The guide never flashes a firmware file with problems, not even with --force: give "
          "the right file, or a sound copy of it (the one its maker released, or built again), "
          "check it with nodletflash-check, and start again.";
    }
    printer_->print(printer_->paint(
        "Not started: the checks found the problems above, and nothing was sent to the hand." +
            what,
        Colour::kRed));
    return;
  }
  printer_->print(printer_->paint(
      "Not started: the checks found a problem with this computer or the bus, and nothing was "
      "sent to the hand. Fix it, or start again with --force to flash all the same.",
      Colour::kRed));
}

void TerminalView::message(const ModuleInfo& /*module*/, const ToolMessage& message,
                           const ProgressFigures* progress) {
  switch (message.kind) {
    case MessageKind::kBlank:
      return;
    case MessageKind::kNarration:
      if (message.milestone == Milestone::kDownloadStarting) {
        if (instructionAt_ >= 0) {
          printer_->clearLive();
          printer_->print(format("The hand answered after the power cycle (%.0f s).",
                                 std::floor(message.seconds - instructionAt_)));
          instructionAt_ = -1;
        }
        printer_->print(message.text);
        downloading_ = true;
        return;
      }
      if (message.milestone == Milestone::kDownloadComplete && progress != nullptr) {
        showProgress(*progress, message.seconds, true);
        printer_->keepLive();
        downloading_ = false;
      }
      printer_->print(message.text);
      return;
    case MessageKind::kInstruction:
      printer_->print(printer_->paint(">> " + message.text, Colour::kCyan));
      if (isPowerCycleInstruction(message)) {
        // What to do is shown once the guide knows how it will follow the hand.
        instructionAt_ = message.seconds;
      }
      return;
    case MessageKind::kProgress:
      if (progress != nullptr) {
        showProgress(*progress, message.seconds, false);
      }
      return;
    case MessageKind::kError:
      if (!message.continuation) {
        // The live line stays as it was when the error came: it shows how far the run got.
        printer_->keepLive();
        instructionAt_ = -1;
        downloading_ = false;
        printer_->print(printer_->paint("ERROR", Colour::kRed) + " " + message.text);
        showTroubleshooting(message.raw);
      } else {
        printer_->print("      " + message.text);
      }
      return;
    case MessageKind::kClosing:
      printer_->keepLive();
      printer_->print(
          printer_->paint(message.text, message.succeeded ? Colour::kGreen : Colour::kRed));
      return;
  }
}

void TerminalView::showTroubleshooting(const std::string& line) {
  const Trouble* trouble = findTrouble(line);
  if (trouble == nullptr) {
    return;
  }
  printer_->print("  " + trouble->meaning);
  printer_->print("  Likely causes, and what to do:");
  for (const Cause& cause : causesFor(*trouble, thisPlatform())) {
    printer_->print("  - " + cause.what);
    printer_->print("    " + printer_->paint("->", Colour::kBold) + " " + cause.todo);
  }
}

void TerminalView::toolError(const ModuleInfo& /*module*/, const std::string& line,
                             double /*seconds*/) {
  printer_->print(printer_->paint("  (tool) " + line, Colour::kDim));
}

void TerminalView::powerCycle(const ModuleInfo& /*module*/, const PowerCycleStep& step,
                              double seconds) {
  if (instructionAt_ < 0) {
    return;
  }
  hand_ = handAfter(hand_, step, instructionAt_);
  if (guideSwitches_) {
    return;
  }
  if (printer_->smart()) {
    lastDrawn_ = -1;
    showPowerCycle(seconds);
  } else if (step.phase == PowerCycleStep::kAsked) {
    printer_->print(powerCycleInstructions(hand_));
  } else {
    printer_->print(powerCycleLine(hand_, step.atSeconds - instructionAt_, kPlainWidth));
  }
}

void TerminalView::showPowerCycle(double seconds) {
  if (hand_.offBy <= 0 || guideSwitches_) {
    return;  // the power-cycle watch has not begun, or the guide itself is switching
  }
  double waited = powerCycleSince(hand_, seconds - instructionAt_);
  if (printer_->smart()) {
    if (lastDrawn_ < 0 || seconds - lastDrawn_ >= kRedrawInterval) {
      printer_->setLive(powerCycleLine(hand_, waited, printer_->width()));
      lastDrawn_ = seconds;
    }
    return;
  }
  // Plain lines: the steps as they come (above), and where things stand every 10 s.
  int mark = static_cast<int>(waited / 10) * 10;
  if (mark > plainWaitShown_) {
    printer_->print(powerCycleLine(hand_, waited, kPlainWidth));
    plainWaitShown_ = mark;
  }
}

void TerminalView::showProgress(const ProgressFigures& figures, double seconds, bool force) {
  if (printer_->smart()) {
    if (force || lastDrawn_ < 0 || seconds - lastDrawn_ >= kRedrawInterval) {
      // One column is left free, as the printer leaves it.
      printer_->setLive(progressLine(figures, printer_->width() - 1));
      lastDrawn_ = seconds;
    }
    return;
  }
  // Plain lines: one every tenth of the download, and the last.
  int tenth = static_cast<int>(figures.percent / 10);
  if (tenth > plainTenthShown_ || (force && figures.percent >= 100 && plainTenthShown_ < 10)) {
    printer_->print(progressLine(figures, kPlainWidth));
    plainTenthShown_ = force ? 10 : tenth;
  }
}

void TerminalView::tick(const ModuleInfo& /*module*/, Stage /*stage*/,
                        const ProgressFigures* progress, double seconds) {
  if (instructionAt_ >= 0) {
    showPowerCycle(seconds);
  } else if (downloading_ && progress != nullptr && printer_->smart()) {
    showProgress(*progress, seconds, false);
  }
}

void TerminalView::powerCommand(const ModuleInfo& /*module*/, const PowerCommandStep& step,
                                double /*seconds*/) {
  printer_->keepLive();
  bool wrong = step.phase == PowerCommandStep::kFailed;
  printer_->print(wrong ? printer_->paint(powerStepWords(step), Colour::kRed)
                        : powerStepWords(step));
}

void TerminalView::interrupting(const ModuleInfo& /*module*/, Stage /*stage*/, double /*seconds*/) {
  printer_->keepLive();
  printer_->print(printer_->paint(
      "Stopping: passing the interruption on to the tool, which leaves the adapter as it found "
      "it before it ends; waiting up to " +
          std::to_string(static_cast<int>(kInterruptGraceSeconds)) + " s...",
      Colour::kYellow));
}

void TerminalView::moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome,
                              double /*seconds*/) {
  printer_->keepLive();
  instructionAt_ = -1;
  downloading_ = false;
  for (const PaintedLine& line : moduleEndLines(module, outcome)) {
    printer_->print(printer_->paint(line.text, line.colour));
  }
}

std::vector<PaintedLine> moduleEndLines(const ModuleInfo& module, const ModuleOutcome& outcome) {
  std::vector<PaintedLine> lines;
  std::string label = "Module " + moduleLabel(module);
  std::string took = format(" (%.1f s). ", outcome.seconds);
  std::string meaning = outcomeMeaning(module, outcome);
  switch (outcome.result) {
    case Result::kDone:
      lines.push_back({label + ": done" + took + meaning,
                       outcome.overridden.empty() ? Colour::kGreen : Colour::kYellow});
      break;
    case Result::kFailed:
      lines.push_back(
          {label + ": failed, exit status " + std::to_string(outcome.status) + took + meaning,
           Colour::kRed});
      break;
    case Result::kInterrupted:
      if (outcome.holds == Holds::kMayBeErased || outcome.holds == Holds::kPartWay) {
        lines.push_back({label + ": INTERRUPTED DURING THE DOWNLOAD. " + meaning, Colour::kRed});
      } else {
        lines.push_back({label + ": " + meaning, Colour::kYellow});
      }
      break;
    case Result::kRefused:
    case Result::kNotStarted:
    case Result::kSkipped:
    case Result::kPowerFailed:
      lines.push_back({label + ": " + meaning, Colour::kRed});
      break;
  }
  if (!outcome.recordWarning.empty()) {
    lines.push_back({"warning: " + outcome.recordWarning, Colour::kYellow});
  }
  if (!module.logPath.empty()) {
    lines.push_back({"  Log: " + module.logPath, Colour::kNone});
  }
  return lines;
}

void TerminalView::sequenceEnds(const std::vector<ModuleInfo>& modules,
                                const std::vector<ModuleOutcome>& outcomes, double /*seconds*/) {
  if (modules.size() < 2) {
    return;
  }
  std::string done;
  std::string notDone;
  for (size_t i = 0; i < modules.size(); ++i) {
    std::string& list = outcomes[i].result == Result::kDone ? done : notDone;
    list += (list.empty() ? "" : ", ") + moduleLabel(modules[i]);
  }
  printer_->print("Modules done: " + (done.empty() ? std::string("none") : done) + ".");
  if (!notDone.empty()) {
    printer_->print(printer_->paint("Modules not done: " + notDone + ".", Colour::kRed));
    std::vector<std::string> redo = redoArguments(commandLine_, modules, outcomes);
    if (!redo.empty()) {
      printer_->print("To flash the modules not done, once what stopped them is put right:");
      printer_->print("  " + shellCommand(redo));
    }
  }
}
