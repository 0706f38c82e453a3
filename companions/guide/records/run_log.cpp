#include "run_log.h"

#include <cinttypes>
#include <ctime>
#include <utility>

#include "findings_output.h"
#include "log_file.h"

namespace {

std::tm utcOf(std::chrono::system_clock::time_point at) {
  std::time_t time = std::chrono::system_clock::to_time_t(at);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &time);
#else
  gmtime_r(&time, &utc);
#endif
  return utc;
}

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

// This computer's record of a module, as the log keeps it.
std::string recordWords(const ModuleRecord& record) {
  if (!record.known) {
    return "this computer has no record of the module";
  }
  return std::string("this computer's record of the module: ") + holdsName(record.holds) + ", " +
         record.utc + ", " + record.file + ", SHA-256 " +
         (record.sha256.empty() ? std::string("not known") : record.sha256);
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
  auto at = start_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                         std::chrono::duration<double>(seconds));
  if (file_ == nullptr) {
    return;
  }
  std::tm utc = utcOf(at);
  char date[40];
  std::strftime(date, sizeof(date), "%Y-%m-%d %H:%M:%S UTC", &utc);
  std::fprintf(file_, "nodletflash-guide log: module %s, firmware file %s, begun %s\n",
               moduleLabel(module).c_str(), module.path.c_str(), date);
  std::fflush(file_);
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
}

void RunLog::toolError(const ModuleInfo& /*module*/, const std::string& text, double seconds) {
  line(seconds, "err " + text);
}

void RunLog::interrupting(const ModuleInfo& /*module*/, Stage stage, double seconds) {
  line(seconds, std::string("interrupted by the person during stage ") + stageName(stage) +
                    "; passed on to the tool");
}

void RunLog::moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) {
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
