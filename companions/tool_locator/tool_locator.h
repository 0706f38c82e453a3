// Finding the nodletflash binary that a companion program stands beside.
#pragma once

#include <string>

/// Where the tool is and how it was found. |path| is empty when it was not found.
struct ToolLocation {
  std::string path;
  std::string how;  // "given by --tool", "next to this program" or "on PATH"
};

/// The tool's file name on this platform: "nodletflash" or "nodletflash.exe".
const char* toolFileName();

/// What separates the directories of PATH: ':' or ';'.
char pathListSeparator();

/// The full path of the running program, or "" when the platform cannot tell.
std::string thisProgramPath();

/// Whether |path| is a file this user could run.
bool isRunnableFile(const std::string& path);

/// The first runnable |fileName| in the directories of |searchPath| (a PATH value), or "".
std::string findOnSearchPath(const std::string& fileName, const std::string& searchPath);

/// Finds the tool: |toolOption| when given (even if it is not there, so that the caller can say
/// so), else the tool next to |programPath|, else the first one on |searchPath| (a PATH value).
ToolLocation locateTool(const std::string& toolOption, const std::string& programPath,
                        const std::string& searchPath);

/// locateTool for this process: its own path and the PATH of its environment.
ToolLocation locateToolFromHere(const std::string& toolOption);

/// The virtual hand's file name on this platform: "nodletflash-sim" or "nodletflash-sim.exe".
const char* virtualHandFileName();

/// Finds the virtual hand as locateTool finds the tool (|simOption| is --sim), and also in the
/// directory sim/ beside |programPath|, where the build tree keeps it.
ToolLocation locateVirtualHand(const std::string& simOption, const std::string& programPath,
                               const std::string& searchPath);

/// locateVirtualHand for this process.
ToolLocation locateVirtualHandFromHere(const std::string& simOption);
