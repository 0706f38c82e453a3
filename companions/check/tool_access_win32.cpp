// On Windows whoever may read the tool may start it: only its presence is told.
#include "tool_access.h"
#include "tool_locator.h"

ToolAccess inspectTool(const std::string& toolOption) {
  ToolLocation tool = locateToolFromHere(toolOption);
  ToolAccess access;
  access.path = tool.path;
  access.how = tool.how;
  access.runnable = !tool.path.empty() && isRunnableFile(tool.path);
  return access;
}
