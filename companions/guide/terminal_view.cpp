#include "terminal_view.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "troubleshooting.h"

namespace {

// The tool gives up on the power cycle after 500 probes: about 51 s of probes that the hand
// answers, and about 151 ms for each probe it does not, so about 75 s after the instruction
// when the hand goes off at once and less the later it does.
constexpr int kOffLimitSeconds = 50;
constexpr int kOnLimitSeconds = 70;
// The guide's pace for the person: off within 5 s, off for 5 s, then on.
constexpr double kSwitchOffBy = 5;
constexpr double kSwitchOnAt = 10;
// The live line is drawn at most this often.
constexpr double kRedrawInterval = 0.1;
constexpr int kBarWidth = 24;

std::string withThousands(int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      out += ',';
    }
    out += digits[i];
  }
  return value < 0 ? "-" + out : out;
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), pattern, value);
  return text;
}

bool isPowerCycleInstruction(const ToolMessage& message) {
  return message.milestone == Milestone::kPowerCycleAsked;
}

}  // namespace

std::string progressLine(const ProgressFigures& figures) {
  int filled = static_cast<int>(figures.percent * kBarWidth / 100.0);
  filled = std::max(0, std::min(kBarWidth, filled));
  // Appended piece by piece: prefixing a temporary ("[" + std::string(...)) makes GCC 12 at -O3
  // warn of an overlapping copy that cannot happen.
  std::string line = "[";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(kBarWidth - filled), '-');
  line += "] ";
  line += format("%5.1f%%", figures.percent);
  if (figures.characters >= 0 && figures.totalCharacters >= 0) {
    line += "  " + withThousands(figures.characters) + " of " +
            withThousands(figures.totalCharacters) + " characters";
  }
  if (figures.charsPerSecond >= 0) {
    line += "  " + withThousands(std::llround(figures.charsPerSecond)) + "/s";
  }
  if (figures.secondsLeft >= 0) {
    line += "  " + format("%.0f s left", std::ceil(figures.secondsLeft));
  }
  return line;
}

std::string powerCycleLine(double seconds) {
  const char* now = seconds < kSwitchOffBy  ? "switch the hand OFF now"
                    : seconds < kSwitchOnAt ? "keep the hand off (5 s)"
                                            : "switch the hand back ON now";
  char text[160];
  std::snprintf(text, sizeof(text),
                "Power cycle, %.0f s since the instruction: %s. Limits: off by %d s, back on by "
                "about %d s.",
                std::floor(seconds), now, kOffLimitSeconds, kOnLimitSeconds);
  return text;
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
    const ImageSummary& summary = checks.summary;
    printer_->print("  " + withThousands(summary.lineCount) + " lines, " +
                    withThousands(summary.payloadChars) + " characters to send; about " +
                    format("%.0f", summary.estimatedSeconds) +
                    " s from the power cycle to the end.");
  }
  if (refused) {
    printer_->print(printer_->paint(
        "Not started: the checks found a problem, and the hand was not touched. Fix it, or "
        "start again with --force to flash all the same.",
        Colour::kRed));
  }
}

void TerminalView::toolStarted(const ModuleInfo& /*module*/,
                               const std::vector<std::string>& /*argv*/, double /*seconds*/) {}

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
        instructionAt_ = message.seconds;
        showPowerCycle(message.seconds);
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

void TerminalView::showPowerCycle(double seconds) {
  double waited = seconds - instructionAt_;
  if (printer_->smart()) {
    if (lastDrawn_ < 0 || seconds - lastDrawn_ >= kRedrawInterval) {
      printer_->setLive(powerCycleLine(waited));
      lastDrawn_ = seconds;
    }
    return;
  }
  // Plain lines: what to do when it changes, then the time every 10 s.
  int mark = static_cast<int>(waited / 10) * 10;
  if (waited < 1 && plainWaitShown_ == 0) {
    printer_->print(
        "Switch the hand off now, keep it off for 5 s, then switch it back on. (The "
        "tool gives up if the hand is still on at " +
        std::to_string(kOffLimitSeconds) + " s, or not back on by about " +
        std::to_string(kOnLimitSeconds) + " s.)");
    plainWaitShown_ = -1;
  } else if (mark > 0 && mark > plainWaitShown_) {
    printer_->print("Waiting for the power cycle: " + std::to_string(mark) +
                    " s since the instruction.");
    plainWaitShown_ = mark;
  }
}

void TerminalView::showProgress(const ProgressFigures& figures, double seconds, bool force) {
  if (printer_->smart()) {
    if (force || lastDrawn_ < 0 || seconds - lastDrawn_ >= kRedrawInterval) {
      printer_->setLive(progressLine(figures));
      lastDrawn_ = seconds;
    }
    return;
  }
  // Plain lines: one every tenth of the download, and the last.
  int tenth = static_cast<int>(figures.percent / 10);
  if (tenth > plainTenthShown_ || (force && figures.percent >= 100 && plainTenthShown_ < 10)) {
    printer_->print(progressLine(figures));
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

void TerminalView::interrupting(const ModuleInfo& /*module*/, Stage /*stage*/, double /*seconds*/) {
  printer_->keepLive();
  printer_->print(
      printer_->paint("Stopping: passing the interruption on to the tool...", Colour::kYellow));
}

void TerminalView::moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome,
                              double /*seconds*/) {
  printer_->keepLive();
  instructionAt_ = -1;
  downloading_ = false;
  std::string label = "Module " + moduleLabel(module);
  std::string took = format(" (%.1f s).", outcome.seconds);
  switch (outcome.result) {
    case Result::kDone:
      printer_->print(printer_->paint(label + ": done" + took, Colour::kGreen));
      break;
    case Result::kFailed:
      printer_->print(printer_->paint(
          label + ": failed, exit status " + std::to_string(outcome.status) + took, Colour::kRed));
      break;
    case Result::kRefused:
      printer_->print(
          printer_->paint(label + ": not flashed (the checks refused it).", Colour::kRed));
      break;
    case Result::kNotStarted:
      printer_->print(printer_->paint(label + ": the tool could not be started: " + outcome.reason,
                                      Colour::kRed));
      break;
    case Result::kInterrupted:
      if (outcome.stage == Stage::kDownload) {
        printer_->print(printer_->paint(
            label + ": INTERRUPTED DURING THE DOWNLOAD. The module may hold part of the new "
                    "firmware and may not work until it is flashed completely. Switch the hand "
                    "off and on, and flash this module again with the same file.",
            Colour::kRed));
      } else if (outcome.stage == Stage::kClosing || outcome.stage == Stage::kEnded) {
        printer_->print(printer_->paint(
            label + ": interrupted after every character was sent. Switch the hand off and "
                    "on; if the module does not work, flash it again.",
            Colour::kYellow));
      } else {
        printer_->print(printer_->paint(
            label + ": interrupted before the download began; the module was not changed. "
                    "Switch the hand off and on before you start again.",
            Colour::kYellow));
      }
      break;
    case Result::kSkipped:
      break;
  }
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
  }
}
