#include "adapter_library.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

std::string firstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) {
      return candidate;
    }
  }
  return "";
}

void judgeAdapterLibrary(const std::string& path, const std::vector<std::string>& searched,
                         const PeExports& exports, std::vector<Finding>* findings) {
  if (path.empty()) {
    std::string where;
    for (const std::string& candidate : searched) {
      where += (where.empty() ? "" : ", ") + candidate;
    }
    findings->push_back(Finding{Severity::kProblem, "library",
                                "no PCANBasic.dll where the tool looks (" + where +
                                    "): install PEAK's driver package with its PCAN-Basic "
                                    "library, or put the 64-bit PCANBasic.dll next to the tool",
                                0, 0});
    return;
  }
  if (!exports.failure.empty()) {
    findings->push_back(
        Finding{Severity::kProblem, "library", path + ": " + exports.failure, 0, 0});
    return;
  }
  if (exports.machine != kPeMachineAmd64 || !exports.pe32Plus) {
    findings->push_back(Finding{
        Severity::kProblem, "library",
        path + " is " + (exports.machine == kPeMachineI386 ? "a 32-bit" : "not a 64-bit x86") +
            " library: the 64-bit tool cannot load it; use the x64 PCANBasic.dll of PEAK's "
            "package",
        0, 0});
    return;
  }
  std::string missing;
  for (uint32_t ordinal : kAdapterOrdinals) {
    if (!std::binary_search(exports.ordinals.begin(), exports.ordinals.end(), ordinal)) {
      missing += (missing.empty() ? "" : ", ") + std::to_string(ordinal);
    }
  }
  if (!missing.empty()) {
    findings->push_back(Finding{Severity::kProblem, "library",
                                path + " lacks the calls the tool takes by ordinal: " + missing +
                                    " (it is not PCAN-Basic, or too old)",
                                0, 0});
    return;
  }
  findings->push_back(
      Finding{Severity::kOk, "library", path + ": 64-bit, exports ordinals 1, 2, 5 and 6", 0, 0});
}
