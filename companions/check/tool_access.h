// Whether this user may start the tool at all, and, where not, why in a person's words.
#pragma once

#include <string>

/// The tool file as this user meets it.
struct ToolAccess {
  std::string path;  // empty when no file of the tool's name was found
  std::string how;   // "given by --tool", "next to this program" or "on PATH"
  bool runnable = false;
  std::string why;  // when a file is there that this user may not run: why, and what to do
};

/// Finds the tool as the companions do (--tool, next to this program, then PATH), counting here
/// also a file this user may not run, and says whether this user may start it.
ToolAccess inspectTool(const std::string& toolOption);
