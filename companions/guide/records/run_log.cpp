#include "run_log.h"

#include <cinttypes>
#include <ctime>
#include <utility>

#include "file_name.h"
#include "findings_output.h"
#include "log_file.h"
#include "power_driver.h"
#include "utc_time.h"

namespace {

// A node number typed with characters a file name should not hold keeps only its safe ones.
std::string fileSafe(const std::string& text) {
  std::string safe;
  for (char c : text) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              c == '+' || c == '-';
    safe += ok ? c : '_';
  }
  return safe;
}

// Seconds as the power-cycle lines give them.
std::string secondsText(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f s", value);
  return text;
}

// How the guide learns of the hand's steps, as the asked line says it.
const char* followedBy(PowerCycleStep::Source source) {
  switch (source) {
    case PowerCycleStep::kBus:
      return "the guide follows the hand on the bus; times in seconds after the instruction, on "
             "the guide's clock";
    case PowerCycleStep::kVirtualHand:
      return "the guide follows the hand through the virtual hand's reports; times in seconds "
             "after the instruction, on the virtual hand's clock";
    case PowerCycleStep::kClock:
      break;
  }
  return "the guide cannot see the hand and follows the clock only; times in seconds after the "
         "instruction, on the guide's clock";
}

// Where a step was learnt from.
const char* seenBy(PowerCycleStep::Source source) {
  return source == PowerCycleStep::kVirtualHand ? "told by the virtual hand" : "seen on the bus";
}

// This computer's record of a module, as the log keeps it.
std::string recordWords(const ModuleRecord& record) {
  if (!record.known) {
    return "this computer has no record of the module";
  }
  return std::string("this computer's record of the module: ") + holdsName(record.holds) + ", " +
         record.utc + ", " + escapedText(record.file) + ", SHA-256 " +
         (record.sha256.empty() ? std::string("not known") : record.sha256) +
         (record.set.empty() ? std::string() : ", from the set " + escapedText(record.set));
}

}  // namespace

std::string defaultLogName(const std::string& nodeText, std::chrono::system_clock::time_point at) {
  std::tm utc = utcOf(at);
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%SZ", &utc);
  return "nodletflash-" + fileSafe(nodeText) + "-" + stamp + ".log";
}

RunLog::RunLog(std::string path, std::chrono::system_clock::time_point start)
    : given_(std::move(path)), start_(start) {}

bool RunLog::open(const ModuleInfo& module, double seconds, std::string* reason) {
  if (file_ != nullptr && !given_.empty()) {
    return true;
  }
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  bool existed = false;
  std::string why;
  if (!given_.empty()) {
    // One log for the whole sequence, added to: an earlier run's record is never lost.
    path_ = given_;
    file_ = createLogFile(path_, true, &why, &existed);
  } else {
    // A new file for each module; should the name be taken, the next free one.
    auto at = start_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                           std::chrono::duration<double>(seconds));
    std::string name = defaultLogName(module.nodeText, at);
    std::string stem = name.substr(0, name.size() - 4);
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
      path_ = attempt == 1 ? name : stem + "-" + std::to_string(attempt) + ".log";
      file_ = createLogFile(path_, false, &why, &existed);
      if (file_ != nullptr || !existed) {
        break;
      }
    }
  }
  if (file_ == nullptr) {
    *reason = "the log " + path_ + " cannot be created: " + why;
    path_.clear();
    return false;
  }
  return true;
}

RunLog::~RunLog() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

void RunLog::line(double seconds, const std::string& text) {
  if (file_ == nullptr) {
    return;
  }
  auto at = start_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                         std::chrono::duration<double>(seconds));
  std::tm utc = utcOf(at);
  auto sinceEpoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  char stamp[32];
  std::strftime(stamp, sizeof(stamp), "%H:%M:%S", &utc);
  std::fprintf(file_, "%s.%03d %s\n", stamp, static_cast<int>(sinceEpoch % 1000), text.c_str());
  std::fflush(file_);
}

void RunLog::moduleBegins(const ModuleInfo& module, double seconds) {
  watching_ = false;
  auto at = start_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                         std::chrono::duration<double>(seconds));
  if (file_ == nullptr) {
    return;
  }
  std::tm utc = utcOf(at);
  char date[40];
  std::strftime(date, sizeof(date), "%Y-%m-%d %H:%M:%S UTC", &utc);
  std::fprintf(file_, "nodletflash-guide log: module %s, firmware file %s, begun %s\n",
               moduleLabel(module).c_str(), escapedText(module.path).c_str(), date);
  std::fflush(file_);
  if (!module.set.empty()) {
    line(seconds, "firmware set: " + escapedText(module.set));
  }
  line(seconds, "record before: " + recordWords(module.recordBefore));
}

void RunLog::checked(const ModuleInfo& /*module*/, const PreflightResult& checks, bool refused,
                     double seconds) {
  for (const Finding& finding : checks.findings) {
    std::string text = std::string("check ") + severityName(finding.severity) + " " +
                       finding.topic + ": " + finding.text;
    if (finding.line > 0) {
      text += " (line " + std::to_string(finding.line) + ", column " +
              std::to_string(finding.column) + ")";
    }
    line(seconds, text);
  }
  if (checks.haveSummary) {
    char summary[160];
    std::snprintf(summary, sizeof(summary),
                  "check summary: %d records, %" PRId64 " data bytes, %" PRId64
                  " characters to send, about %.1f s",
                  checks.summary.records, checks.summary.dataBytes, checks.summary.payloadChars,
                  checks.summary.estimatedSeconds);
    line(seconds, summary);
  }
  if (refused) {
    line(seconds, "refused: the checks found a problem; the tool was not started");
  }
}

void RunLog::toolStarted(const ModuleInfo& /*module*/, const std::vector<std::string>& argv,
                         double seconds) {
  std::string command = "started:";
  for (const std::string& word : argv) {
    command += " " + word;
  }
  line(seconds, command);
}

void RunLog::message(const ModuleInfo& /*module*/, const ToolMessage& message,
                     const ProgressFigures* /*progress*/) {
  line(message.seconds, "out " + message.raw);
  if (message.cut) {
    line(message.seconds, "note: the line above was longer than " +
                              std::to_string(LineSplitter::kDefaultMaxLength) +
                              " bytes; the rest of it was dropped");
  }
  switch (message.milestone) {
    case Milestone::kPowerCycleAsked:
      // The power-cycle watch tells the steps, this instruction's first.
      watching_ = true;
      instructionAt_ = message.seconds;
      hand_ = HandState();
      offPassedNoted_ = false;
      onPassedNoted_ = false;
      return;
    case Milestone::kPowerOffTimedOut:
      if (watching_) {
        notePassed(PassedLimit::kOff, message.seconds,
                   "the tool gave up waiting: its message above");
      }
      break;
    case Milestone::kPowerOnTimedOut:
      if (watching_) {
        notePassed(PassedLimit::kOn, message.seconds,
                   "the tool gave up waiting: its message above");
      }
      break;
    default:
      break;
  }
  // The download begins, or the tool failed or ended: the power cycle is over.
  if (message.milestone == Milestone::kDownloadStarting ||
      (message.kind == MessageKind::kError && !message.continuation) ||
      message.kind == MessageKind::kClosing) {
    watching_ = false;
  }
}

void RunLog::powerCommand(const ModuleInfo& /*module*/, const PowerCommandStep& step,
                          double seconds) {
  line(seconds, "power command: " + powerStepWords(step));
}

void RunLog::powerCycle(const ModuleInfo& /*module*/, const PowerCycleStep& step, double seconds) {
  hand_ = handAfter(hand_, step, instructionAt_);
  switch (step.phase) {
    case PowerCycleStep::kAsked:
      line(seconds, std::string("power cycle: asked; ") + followedBy(step.source) +
                        "; the hand must be off by " + secondsText(hand_.offBy) +
                        " and, gone off at once, back on by " + secondsText(hand_.onBy) +
                        " (half a second sooner for each second later)");
      break;
    case PowerCycleStep::kHandOff:
      line(seconds, "power cycle: the hand went off at " + secondsText(hand_.offAt) + " (" +
                        seenBy(step.source) + "); it must be back on by " +
                        secondsText(hand_.onBy));
      break;
    case PowerCycleStep::kHandOn:
      line(seconds,
           "power cycle: the hand came back on at " + secondsText(hand_.onAt) + " (" +
               seenBy(step.source) + "), " +
               (hand_.onAt <= hand_.onBy ? "within its limit of " : "later than its limit of ") +
               secondsText(hand_.onBy));
      break;
  }
}

void RunLog::tick(const ModuleInfo& /*module*/, Stage /*stage*/,
                  const ProgressFigures* /*progress*/, double seconds) {
  if (watching_) {
    notePassed(passedLimit(hand_, seconds - instructionAt_), seconds, "by the guide's clock");
  }
}

void RunLog::notePassed(PassedLimit passed, double seconds, const char* how) {
  bool clockOnly = hand_.source == PowerCycleStep::kClock;
  // By the clock alone, the limit for going off passes before the one for answering again.
  if (passed == PassedLimit::kOn && clockOnly && !offPassedNoted_) {
    notePassed(PassedLimit::kOff, seconds, how);
  }
  std::string text;
  if (passed == PassedLimit::kOff && !offPassedNoted_) {
    offPassedNoted_ = true;
    text = "power cycle: the limit for switching the hand off, " + secondsText(hand_.offBy) +
           " after the instruction, " +
           (clockOnly ? "has passed; the guide cannot see the hand, so whether it went off is "
                        "not known"
                      : "passed with the hand never seen off");
  } else if (passed == PassedLimit::kOn && !onPassedNoted_) {
    onPassedNoted_ = true;
    std::string limit = secondsText(hand_.onBy) + " after the instruction";
    if (hand_.off) {
      text = "power cycle: the limit for the hand to answer again, " + limit +
             ", passed with the hand not seen back on";
    } else if (clockOnly) {
      text = "power cycle: the latest the hand could answer again by, " + limit +
             ", has passed; the guide cannot see the hand, so whether it came back on is not "
             "known";
    } else {
      text = "power cycle: the limit for the hand to answer again, " + limit +
             " had it gone off at once, passed with the hand seen neither off nor back on";
    }
  }
  if (!text.empty()) {
    line(seconds, text + " (" + how + ")");
  }
}

void RunLog::toolError(const ModuleInfo& /*module*/, const std::string& text, double seconds) {
  line(seconds, "err " + text);
}

void RunLog::interrupting(const ModuleInfo& /*module*/, Stage stage, double seconds) {
  line(seconds, std::string("interrupted by the person during stage ") + stageName(stage) +
                    "; passed on to the tool");
}

void RunLog::moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) {
  watching_ = false;
  if (outcome.result == Result::kSkipped) {
    return;
  }
  std::string text = std::string("end: ") + resultName(outcome.result);
  if (outcome.haveStatus) {
    text += ", exit status " + std::to_string(outcome.status);
  }
  if (!outcome.reason.empty()) {
    text += ", " + outcome.reason;
  }
  char took[160];
  std::snprintf(took, sizeof(took), ", stage %s, holds %s, %s%lld characters sent, after %.3f s",
                stageName(outcome.stage), holdsName(outcome.holds),
                outcome.charactersExact ? "" : "at least ",
                static_cast<long long>(outcome.charactersSent), outcome.seconds);
  line(seconds, "meaning: " + outcomeMeaning(module, outcome));
  line(seconds, "record: " + recordWords(outcome.recordAfter) +
                    (outcome.recordWarning.empty() ? "" : "; " + outcome.recordWarning));
  line(seconds, text + took);
}

void RunLog::sequenceEnds(const std::vector<ModuleInfo>& modules,
                          const std::vector<ModuleOutcome>& outcomes, double seconds) {
  if (modules.size() < 2) {
    return;
  }
  std::string text = "sequence:";
  for (size_t i = 0; i < modules.size(); ++i) {
    text += " " + modules[i].nodeText + "=" + resultName(outcomes[i].result);
  }
  line(seconds, text);
}
