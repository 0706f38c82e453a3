#include "window_view.h"

#include <nlohmann/json.hpp>

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
