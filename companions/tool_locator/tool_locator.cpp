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

ToolLocation locateTool(const std::string& toolOption, const std::string& programPath,
                        const std::string& searchPath) {
  if (!toolOption.empty()) {
    return ToolLocation{toolOption, "given by --tool"};
  }
  if (!programPath.empty()) {
    std::string beside = (fs::path(programPath).parent_path() / toolFileName()).string();
    if (isRunnableFile(beside)) {
      return ToolLocation{beside, "next to this program"};
    }
  }
  std::string found = findOnSearchPath(toolFileName(), searchPath);
  if (!found.empty()) {
    return ToolLocation{found, "on PATH"};
  }
  return ToolLocation{};
}

ToolLocation locateToolFromHere(const std::string& toolOption) {
  const char* searchPath = std::getenv("PATH");
  return locateTool(toolOption, thisProgramPath(), searchPath != nullptr ? searchPath : "");
}
