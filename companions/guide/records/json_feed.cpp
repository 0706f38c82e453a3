#include "json_feed.h"

#include <cmath>
#include <string>

#include "findings_output.h"
#include "troubleshooting.h"

namespace {

using Json = nlohmann::ordered_json;

// The feed's version: 2 since the end's stage stopped reading "ended" after the closing line
// and whole-file findings stopped carrying a column.
constexpr int kFeedVersion = 2;

// Times and rates to the millisecond, or to the hundredth: more digits would only be noise.
double rounded(double value, double scale) {
  return std::round(value * scale) / scale;
}

Json event(const ModuleInfo& module, const char* name, double seconds) {
  Json object;
  object["v"] = kFeedVersion;
  object["t"] = rounded(seconds, 1000);
  if (module.node != 0) {
    object["module"] = module.node;
  } else {
    object["module"] = nullptr;
  }
  object["event"] = name;
  return object;
}

Json textOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

}  // namespace

FeedSink jsonLinesSink(std::FILE* out) {
  return [out](const Json& object) {
    // Text the tool printed need not be UTF-8: bytes that are not are replaced, not fatal.
    std::string line = object.dump(-1, ' ', false, Json::error_handler_t::replace);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
  };
}

void JsonFeed::moduleBegins(const ModuleInfo& module, double seconds) {
  Json object = event(module, "module", seconds);
  object["index"] = module.index;
  object["count"] = module.count;
  object["typed"] = module.nodeText;
  object["node"] = module.node != 0 ? Json(module.node) : Json(nullptr);
  object["file"] = module.path;
  object["rehearsal"] = textOrNull(module.rehearsal);
  object["log"] = textOrNull(module.logPath);
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
  Json object = event(module, "power-cycle", seconds);
  object["phase"] = kPhases[step.phase];
  object["source"] = kSources[step.source];
  if (step.phase == PowerCycleStep::kAsked) {
    object["off_by_s"] =
        step.offBySeconds >= 0 ? Json(rounded(step.offBySeconds, 10)) : Json(nullptr);
  }
  if (step.phase != PowerCycleStep::kHandOn) {
    object["on_by_s"] = step.onBySeconds >= 0 ? Json(rounded(step.onBySeconds, 10)) : Json(nullptr);
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
  object["log"] = textOrNull(module.logPath);
  sink_(object);
}
