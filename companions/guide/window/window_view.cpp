#include "window_view.h"

#include <nlohmann/json.hpp>

#include "troubleshooting.h"

namespace {

using Json = nlohmann::ordered_json;

Json lineEntry(const ModuleInfo& module, const char* stream, const std::string& text,
               double seconds) {
  Json entry;
  entry["window"] = "line";
  entry["t"] = seconds;
  entry["index"] = module.index;
  entry["stream"] = stream;
  entry["text"] = text;
  return entry;
}

}  // namespace

void WindowLines::moduleBegins(const ModuleInfo& module, double seconds) {
  Json entry;
  entry["window"] = "turn";
  entry["t"] = seconds;
  entry["index"] = module.index;
  session_->publish(std::move(entry));
}

void WindowLines::checked(const ModuleInfo& module, const PreflightResult& checks, bool refused,
                          double /*seconds*/) {
  session_->setChecks(module.index, checks, !refused);
}

void WindowLines::moduleEnds(const ModuleInfo& module, const ModuleOutcome& outcome,
                             double seconds) {
  if (module.node != 0) {
    session_->setRecordAfter(module.node, outcome.recordAfter, outcome.recordWarning);
  }
  Json entry;
  entry["window"] = "row";
  entry["t"] = seconds;
  entry["index"] = module.index;
  session_->publish(std::move(entry));
}

void WindowLines::message(const ModuleInfo& module, const ToolMessage& message,
                          const ProgressFigures* /*progress*/) {
  session_->publish(lineEntry(module, "out", message.raw, message.seconds));
  const Trouble* trouble = message.kind == MessageKind::kError && !message.continuation
                               ? findTrouble(message.raw)
                               : nullptr;
  if (trouble == nullptr) {
    return;
  }
  // The error's causes as the page lists them: what the module holds is the verdict's own
  // sentence, said once, above them.
  Json causes = Json::array();
  for (const Cause& cause : causesFor(*trouble, thisPlatform())) {
    if (!saysTheDownloadStopped(cause)) {
      causes.push_back(Json{{"cause", cause.what}, {"remedy", cause.todo}});
    }
  }
  Json entry;
  entry["window"] = "causes";
  entry["t"] = message.seconds;
  entry["index"] = module.index;
  entry["causes"] = std::move(causes);
  session_->publish(std::move(entry));
}

void WindowLines::toolError(const ModuleInfo& module, const std::string& line, double seconds) {
  session_->publish(lineEntry(module, "err", line, seconds));
}

void WindowLogNotes::moduleBegins(const ModuleInfo& module, double seconds) {
  for (const WindowModule& chosen : session_->modules()) {
    if (chosen.path == module.path && !chosen.originalName.empty()) {
      log_->note(seconds, "window: the firmware file was chosen on the page: " +
                              chosen.originalName + ", kept for this run as " + chosen.path);
    }
  }
}

void WindowLogNotes::moduleEnds(const ModuleInfo& /*module*/, const ModuleOutcome& /*outcome*/,
                                double seconds) {
  std::string note = session_->takeRefusalNote();
  if (!note.empty()) {
    log_->note(seconds, note);
  }
}
