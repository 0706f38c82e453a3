// This computer's CAN set-up on Windows: the adapter library the tool would load.
#include <windows.h>

#include <filesystem>

#include "adapter_library.h"
#include "channel_lock_finding.h"
#include "preflight.h"
#include "tool_locator.h"

namespace {

// The tool loads the library with LOAD_LIBRARY_SEARCH_DEFAULT_DIRS: its own directory first,
// then the system directory; never the current directory or PATH.
std::vector<std::string> librarySearchOrder(const std::string& toolPath) {
  std::vector<std::string> order;
  if (!toolPath.empty()) {
    order.push_back((std::filesystem::path(toolPath).parent_path() / "PCANBasic.dll").string());
  }
  char system[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(system, sizeof(system));
  if (length > 0 && length < sizeof(system)) {
    order.push_back((std::filesystem::path(system) / "PCANBasic.dll").string());
  }
  return order;
}

}  // namespace

void checkComputer(const PreflightOptions& options, PreflightResult* result) {
  std::vector<Finding>& findings = result->findings;
  ToolLocation tool = locateToolFromHere(options.toolPath);
  if (tool.path.empty() || !isRunnableFile(tool.path)) {
    findings.push_back(Finding{Severity::kProblem, "tool",
                               tool.path.empty()
                                   ? "nodletflash.exe is neither next to this program nor on "
                                     "PATH (give --tool=PATH)"
                                   : "no nodletflash.exe at " + tool.path,
                               0, 0});
  } else {
    findings.push_back(Finding{Severity::kOk, "tool", tool.path + " (" + tool.how + ")", 0, 0});
  }
  std::vector<std::string> searched = librarySearchOrder(tool.path);
  std::string library = firstExisting(searched);
  PeExports exports;
  if (!library.empty()) {
    exports = readPeExports(library);
  }
  judgeAdapterLibrary(library, searched, exports, &findings);
  checkChannelLock("channel 0x51", &findings);
  findings.push_back(Finding{Severity::kWarning, "channel",
                             "channel 0x51 is not checked: opening it would disturb a run that "
                             "uses it",
                             0, 0});
}
