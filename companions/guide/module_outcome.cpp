#include "module_outcome.h"

const char* stageName(Stage stage) {
  switch (stage) {
    case Stage::kChecks:
      return "checks";
    case Stage::kStarting:
      return "starting";
    case Stage::kPowerCycle:
      return "power-cycle";
    case Stage::kDownload:
      return "download";
    case Stage::kClosing:
      return "closing";
    case Stage::kEnded:
      return "ended";
  }
  return "";
}

const char* resultName(Result result) {
  switch (result) {
    case Result::kDone:
      return "done";
    case Result::kFailed:
      return "failed";
    case Result::kRefused:
      return "refused";
    case Result::kNotStarted:
      return "not-started";
    case Result::kInterrupted:
      return "interrupted";
    case Result::kSkipped:
      return "skipped";
  }
  return "";
}

std::string moduleLabel(const ModuleInfo& module) {
  if (module.node == 0) {
    return module.nodeText;
  }
  return std::to_string(module.node) + " (" + module.name + ")";
}
