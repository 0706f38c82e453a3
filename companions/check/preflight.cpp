#include "preflight.h"

#include <algorithm>

PreflightResult runPreflight(const PreflightOptions& options) {
  PreflightResult result = checkNodeAndImage(options.nodeText, options.path);
  if (!options.imageOnly) {
    checkComputer(options, &result);
  }
  return result;
}

bool hasProblem(const PreflightResult& result) {
  return std::any_of(result.findings.begin(), result.findings.end(),
                     [](const Finding& f) { return f.severity == Severity::kProblem; });
}
