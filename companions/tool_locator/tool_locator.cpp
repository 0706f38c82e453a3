#include "tool_locator.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

std::string findOnSearchPath(const std::string& fileName, const std::string& searchPath) {
  size_t start = 0;
  while (start <= searchPath.size()) {
    size_t end = searchPath.find(pathListSeparator(), start);
    if (end == std::string::npos) {
      end = searchPath.size();
    }
    std::string directory = searchPath.substr(start, end - start);
    // An empty entry is no directory: PATH's old meaning of "the current one" is not followed.
    if (!directory.empty()) {
      std::string candidate = (fs::path(directory) / fileName).string();
      if (isRunnableFile(candidate)) {
        return candidate;
      }
    }
    start = end + 1;
  }
  return "";
}

namespace {

// The option's value when given; else |fileName| next to |programPath|, or in |subdirectory|
// beside it when that is not empty; else the first on |searchPath|.
ToolLocation locateProgram(const char* fileName, const std::string& option, const char* given,
                           const std::string& programPath, const char* subdirectory,
                           const std::string& searchPath) {
  if (!option.empty()) {
    return ToolLocation{option, given};
  }
  if (!programPath.empty()) {
    fs::path here = fs::path(programPath).parent_path();
    std::string beside = (here / fileName).string();
    if (isRunnableFile(beside)) {
      return ToolLocation{beside, "next to this program"};
    }
    if (subdirectory[0] != '\0') {
      std::string below = (here / subdirectory / fileName).string();
      if (isRunnableFile(below)) {
        return ToolLocation{below, std::string("in ") + subdirectory + " beside this program"};
      }
    }
  }
  std::string found = findOnSearchPath(fileName, searchPath);
  if (!found.empty()) {
    return ToolLocation{found, "on PATH"};
  }
  return ToolLocation{};
}

std::string searchPathHere() {
  const char* searchPath = std::getenv("PATH");
  return searchPath != nullptr ? searchPath : "";
}

}  // namespace

ToolLocation locateTool(const std::string& toolOption, const std::string& programPath,
                        const std::string& searchPath) {
  return locateProgram(toolFileName(), toolOption, "given by --tool", programPath, "", searchPath);
}

ToolLocation locateToolFromHere(const std::string& toolOption) {
  return locateTool(toolOption, thisProgramPath(), searchPathHere());
}

ToolLocation locateVirtualHand(const std::string& simOption, const std::string& programPath,
                               const std::string& searchPath) {
  return locateProgram(virtualHandFileName(), simOption, "given by --sim", programPath, "sim",
                       searchPath);
}

ToolLocation locateVirtualHandFromHere(const std::string& simOption) {
  return locateVirtualHand(simOption, thisProgramPath(), searchPathHere());
}
