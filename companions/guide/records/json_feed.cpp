#include "json_feed.h"

#include <cmath>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "findings_output.h"
#include "redo_command.h"
#include "sha256.h"
#include "tool_locator.h"
#include "troubleshooting.h"
#include "utc_time.h"

namespace {

using Json = nlohmann::ordered_json;

// The feed's version: 3 since the run's own first and last events, what a module holds in place
// of whether it was touched, and the power cycle's deadlines on the feed's own clock.
constexpr int kFeedVersion = 3;

// Times and rates to the millisecond, or to the hundredth: more digits would only be noise.
double rounded(double value, double scale) {
  return std::round(value * scale) / scale;
}

Json envelope(const Json& module, const char* name, double seconds) {
  Json object;
  object["v"] = kFeedVersion;
  object["t"] = rounded(seconds, 1000);
  object["module"] = module;
  object["event"] = name;
  return object;
}

Json event(const ModuleInfo& module, const char* name, double seconds) {
  return envelope(module.node != 0 ? Json(module.node) : Json(nullptr), name, seconds);
}

Json textOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

// |path| from the root, so that a program in another directory finds it; null when empty.
Json absolutePath(const std::string& path) {
  if (path.empty()) {
    return nullptr;
  }
  std::error_code code;
  std::filesystem::path whole = std::filesystem::absolute(path, code);
  return code ? Json(path) : Json(whole.lexically_normal().string());
}

// 2026-12-09T14:02:11.250Z
std::string utcText(std::chrono::system_clock::time_point at) {
  std::tm utc = utcOf(at);
  std::time_t time = std::chrono::system_clock::to_time_t(at);
  auto sinceSecond = at - std::chrono::system_clock::from_time_t(time);
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceSecond).count();
  int shown = millis >= 0 && millis <= 999 ? static_cast<int>(millis) : 0;
  char stamp[40];
  std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &utc);
  char whole[48];
  std::snprintf(whole, sizeof(whole), "%s.%03dZ", stamp, shown);
  return whole;
}

// A module as the command line named it.
Json namedModule(const ModuleInfo& module) {
  Json object;
  object["index"] = module.index;
  object["typed"] = module.nodeText;
  object["node"] = module.node != 0 ? Json(module.node) : Json(nullptr);
  object["file"] = module.path;
  return object;
}

// This computer's record of a module; null when it holds nothing for it.
Json recordOf(const ModuleRecord& record) {
  if (!record.known) {
    return nullptr;
  }
  Json object;
  object["holds"] = holdsName(record.holds);
  object["utc"] = record.utc;
  object["file"] = record.file;
  object["sha256"] = textOrNull(record.sha256);
  object["set"] = textOrNull(record.set);
  return object;
}

// The program each module's turn runs: the tool, or the virtual hand standing in for it. The
// tool prints no version of its own: one found beside the guide is taken for the one built and
// installed with it; of any other the guide cannot know it.
Json programRun(const GuideSettings& settings) {
  return feedProgram(settings, settings.rehearse);
}

Json optionsOf(const FeedRun& run) {
  const GuideSettings& settings = run.settings;
  Json object;
  object["rehearsal"] = settings.rehearse ? Json(settings.scenario) : Json(nullptr);
  // The virtual hand runs on the real clock unless told otherwise.
  object["sim_clock"] = !settings.rehearse          ? Json(nullptr)
                        : settings.simClock.empty() ? Json("real")
                                                    : Json(settings.simClock);
  object["force"] = settings.force;
  object["listen_ms"] = settings.listenMs;
  object["log"] = run.log.none ? "none" : run.log.path.empty() ? "per-module" : "one-file";
  object["log_file"] = run.log.none ? Json(nullptr) : absolutePath(run.log.path);
  const PowerCommands& power = settings.power;
  object["power_off"] = power.given() ? Json(power.off) : Json(nullptr);
  object["power_on"] = power.given() ? Json(power.on) : Json(nullptr);
  object["power_limit_s"] = power.given() ? Json(power.limitSeconds) : Json(nullptr);
  return object;
}

}  // namespace

Json feedProgram(const GuideSettings& settings, bool virtualHand) {
  ToolLocation found = virtualHand ? locateVirtualHandFromHere(settings.simPath)
                                   : locateToolFromHere(settings.toolPath);
  Json object;
  object["name"] = virtualHand ? virtualHandFileName() : toolFileName();
  object["path"] = absolutePath(found.path);
  object["found"] = textOrNull(found.how);
  bool beside = found.how == "next to this program" || found.how == "in sim beside this program";
  object["version"] = beside ? Json(NODLETFLASH_VERSION) : Json(nullptr);
  return object;
}

FeedSink jsonLinesSink(std::FILE* out) {
  return [out](const Json& object) {
    // Text the tool printed need not be UTF-8: bytes that are not are replaced, not fatal.
    std::string line = object.dump(-1, ' ', false, Json::error_handler_t::replace);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
  };
}

void JsonFeed::runBegins(const FeedRun& run, double seconds) {
  Json object = envelope(nullptr, "run", seconds);
  object["guide_version"] = NODLETFLASH_VERSION;
  object["started_utc"] = utcText(run.started);
  object["arguments"] = run.arguments;
  if (run.understood) {
    object["program"] = programRun(run.settings);
    object["options"] = optionsOf(run);
    Json modules = Json::array();
    for (const ModuleInfo& module : run.modules) {
      modules.push_back(namedModule(module));
    }
    object["modules"] = modules;
    object["record_warning"] = textOrNull(run.recordWarning);
  } else {
    object["program"] = nullptr;
    object["options"] = nullptr;
    object["modules"] = nullptr;
    object["record_warning"] = nullptr;
  }
  object["set"] = run.setFile.empty()
                      ? Json(nullptr)
                      : Json{{"name", textOrNull(run.setName)}, {"file", run.setFile}};
  sink_(object);
}

void JsonFeed::runEnds(const FeedRunEnd& end, double seconds) {
  Json object = envelope(nullptr, "run-end", seconds);
  object["status"] = end.status;
  object["usage_error"] = textOrNull(end.usageError);
  object["set_problems"] = end.setProblems.empty() ? Json(nullptr) : Json(end.setProblems);
  if (!end.usageError.empty() || !end.setProblems.empty()) {
    object["not_done"] = nullptr;
    object["redo_command"] = nullptr;
    object["redo_arguments"] = nullptr;
    sink_(object);
    return;
  }
  Json notDone = Json::array();
  for (size_t i : modulesNotDone(end.outcomes)) {
    if (i < end.modules.size()) {
      notDone.push_back(namedModule(end.modules[i]));
    }
  }
  object["not_done"] = notDone;
  std::vector<std::string> redo = redoArguments(end.commandLine, end.modules, end.outcomes);
  object["redo_command"] = redo.empty() ? Json(nullptr) : Json(shellCommand(redo));
  object["redo_arguments"] = redo.empty() ? Json(nullptr) : Json(redo);
  sink_(object);
}

void JsonFeed::powerCycleShared(const ModuleInfo& done, const ModuleInfo& next, double seconds) {
  Json object = event(next, "shared-power-cycle", seconds);
  object["completes"] = done.node;
  sink_(object);
}

void JsonFeed::moduleBegins(const ModuleInfo& module, double seconds) {
  Json object = event(module, "module", seconds);
  object["index"] = module.index;
  object["count"] = module.count;
  object["typed"] = module.nodeText;
  object["node"] = module.node != 0 ? Json(module.node) : Json(nullptr);
  object["file"] = module.path;
  // The file's identity as the turn begins; the checks say why a file cannot be read.
  std::error_code code;
  auto size = std::filesystem::file_size(module.path, code);
  std::string sha256 = sha256File(module.path, nullptr);
  bool read = !code && !sha256.empty();
  object["file_size"] = read ? Json(static_cast<int64_t>(size)) : Json(nullptr);
  object["file_sha256"] = read ? Json(sha256) : Json(nullptr);
  object["rehearsal"] = textOrNull(module.rehearsal);
  object["log"] = absolutePath(module.logPath);
  object["record"] = recordOf(module.recordBefore);
  sink_(object);
}

void JsonFeed::checked(const ModuleInfo& module, const PreflightResult& checks, bool /*refused*/,
                       double seconds) {
  for (const Finding& finding : checks.findings) {
    Json object = event(module, "check", seconds);
    object["severity"] = severityName(finding.severity);
    object["topic"] = finding.topic;
    object["text"] = finding.text;
    // A place in the file only: a finding about the whole file has neither.
    if (finding.line > 0) {
      object["line"] = finding.line;
      if (finding.column > 0) {
        object["column"] = finding.column;
      }
    }
    sink_(object);
  }
  if (checks.haveSummary) {
    const ImageSummary& summary = checks.summary;
    Json object = event(module, "summary", seconds);
    object["records"] = summary.records;
    object["data_bytes"] = summary.dataBytes;
    object["characters"] = summary.payloadChars;
    object["estimated_s"] = rounded(summary.estimatedSeconds, 10);
    sink_(object);
  }
}

void JsonFeed::message(const ModuleInfo& module, const ToolMessage& message,
                       const ProgressFigures* progress) {
  switch (message.kind) {
    case MessageKind::kBlank:
      return;
    case MessageKind::kNarration:
    case MessageKind::kClosing: {
      Json object = event(module, "narration", message.seconds);
      object["text"] = message.text;
      sink_(object);
      return;
    }
    case MessageKind::kInstruction: {
      Json object = event(module, "instruction", message.seconds);
      object["text"] = message.text;
      sink_(object);
      return;
    }
    case MessageKind::kError: {
      Json object = event(module, "error", message.seconds);
      object["text"] = message.text;
      if (message.continuation) {
        object["continued"] = true;
      } else {
        // What the view shows after the error: what it means, its causes and what to do.
        const Trouble* trouble = findTrouble(message.raw);
        object["meaning"] = trouble != nullptr ? Json(trouble->meaning) : Json(nullptr);
        Json causes = Json::array();
        if (trouble != nullptr) {
          for (const Cause& cause : causesFor(*trouble, thisPlatform())) {
            causes.push_back(Json{{"cause", cause.what}, {"remedy", cause.todo}});
          }
        }
        object["causes"] = causes;
      }
      sink_(object);
      return;
    }
    case MessageKind::kProgress:
      break;
  }
  Json object = event(module, "progress", message.seconds);
  object["percent"] = message.percent;
  const auto known = [](auto value) { return value >= 0 ? Json(value) : Json(nullptr); };
  object["line"] = progress != nullptr ? known(progress->line) : Json(nullptr);
  object["characters"] = progress != nullptr ? known(progress->characters) : Json(nullptr);
  object["total_characters"] =
      progress != nullptr ? known(progress->totalCharacters) : Json(nullptr);
  object["characters_per_second"] = progress != nullptr && progress->charsPerSecond >= 0
                                        ? Json(rounded(progress->charsPerSecond, 1))
                                        : Json(nullptr);
  object["seconds_left"] = progress != nullptr && progress->secondsLeft >= 0
                               ? Json(rounded(progress->secondsLeft, 10))
                               : Json(nullptr);
  sink_(object);
}

void JsonFeed::toolError(const ModuleInfo& /*module*/, const std::string& line,
                         double /*seconds*/) {
  // The tool's standard error stays on the guide's, as it would without the guide.
  std::fprintf(stderr, "%s\n", line.c_str());
}

void JsonFeed::powerCycle(const ModuleInfo& module, const PowerCycleStep& step, double seconds) {
  static const char* const kPhases[] = {"asked", "hand-off", "hand-on"};
  static const char* const kSources[] = {"bus", "virtual-hand", "clock"};
  // Every time on the feed's own clock, the one t is on.
  Json object = event(module, "power-cycle", seconds);
  object["phase"] = kPhases[step.phase];
  object["source"] = kSources[step.source];
  object["instruction_t"] = rounded(step.askedAtSeconds, 1000);
  if (step.phase != PowerCycleStep::kAsked) {
    object["at_t"] = rounded(step.atSeconds, 1000);
  }
  if (step.phase == PowerCycleStep::kAsked) {
    object["off_by_t"] = rounded(step.offBySeconds, 1000);
  }
  if (step.phase != PowerCycleStep::kHandOn) {
    object["on_by_t"] = rounded(step.onBySeconds, 1000);
  }
  sink_(object);
}

void JsonFeed::powerCommand(const ModuleInfo& module, const PowerCommandStep& step,
                            double seconds) {
  static const char* const kPhases[] = {"started",  "ended",   "hand-off",
                                        "kept-off", "hand-on", "failed"};
  static const char* const kEnds[] = {"exited", "not-started", "timed-out"};
  static const char* const kSources[] = {"bus", "virtual-hand", "clock"};
  Json object = event(module, "power-command", seconds);
  object["phase"] = kPhases[step.phase];
  object["final"] = step.final;
  switch (step.phase) {
    case PowerCommandStep::kStarted:
    case PowerCommandStep::kEnded:
      object["switch"] = step.on ? "on" : "off";
      object["command"] = step.argv;
      if (step.phase == PowerCommandStep::kEnded) {
        object["end"] = kEnds[step.end];
        object["status"] =
            step.end == PowerCommandStep::kNotStarted ? Json(nullptr) : Json(step.status);
        object["seconds"] = rounded(step.seconds, 1000);
        object["said"] = step.detail;
      }
      break;
    case PowerCommandStep::kHandOff:
    case PowerCommandStep::kHandOn:
      object["source"] = kSources[step.source];
      break;
    case PowerCommandStep::kKeptOff:
      object["source"] = kSources[step.source];
      object["seconds"] = rounded(step.seconds, 1000);
      break;
    case PowerCommandStep::kFailed:
      object["problem"] = step.detail;
      break;
  }
  sink_(object);
}

void JsonFeed::interrupting(const ModuleInfo& module, Stage stage, double seconds) {
  Json object = event(module, "interrupting", seconds);
  object["stage"] = stageName(stage);
  sink_(object);
}

void JsonFeed::moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome, double seconds) {
  Json object = event(module, "end", seconds);
  object["status"] = outcome.haveStatus ? Json(outcome.status) : Json(nullptr);
  object["seconds"] = rounded(outcome.seconds, 1000);
  object["outcome"] = resultName(outcome.result);
  object["stage"] = stageName(outcome.stage);
  object["holds"] = holdsName(outcome.holds);
  object["meaning"] = outcomeMeaning(module, outcome);
  object["overridden"] = outcome.overridden;
  object["log"] = absolutePath(module.logPath);
  object["characters_sent"] = outcome.charactersSent;
  object["record"] = recordOf(outcome.recordAfter);
  sink_(object);
}
