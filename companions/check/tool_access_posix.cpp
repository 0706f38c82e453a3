// Who may start the tool file: the package lets root and the members of its group run it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "account_names.h"
#include "linux_facts.h"
#include "tool_access.h"
#include "tool_locator.h"

namespace fs = std::filesystem;

namespace {

bool isPlainFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Where the locator would have found the tool had this user been allowed to run it.
ToolLocation locateUnrunnableTool() {
  std::string self = thisProgramPath();
  if (!self.empty()) {
    std::string beside = (fs::path(self).parent_path() / toolFileName()).string();
    if (isPlainFile(beside)) {
      return ToolLocation{beside, "next to this program"};
    }
  }
  const char* searchPath = std::getenv("PATH");
  std::istringstream directories(searchPath != nullptr ? searchPath : "");
  for (std::string directory; std::getline(directories, directory, pathListSeparator());) {
    std::string candidate = (fs::path(directory) / toolFileName()).string();
    if (!directory.empty() && isPlainFile(candidate)) {
      return ToolLocation{candidate, "on PATH"};
    }
  }
  return ToolLocation{};
}

std::vector<std::string> fieldsOf(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::istringstream split(line);
  for (std::string field; std::getline(split, field, separator);) {
    fields.push_back(field);
  }
  return fields;
}

// Whether the account databases make |user| (uid |uid|) a member of |gid|: as its primary
// group, or listed in the group's line. A new login gives the process those groups.
bool databaseMakesMember(const std::string& user, unsigned uid, unsigned gid) {
  std::ifstream passwd("/etc/passwd");
  for (std::string line; std::getline(passwd, line);) {
    std::vector<std::string> fields = fieldsOf(line, ':');
    if (fields.size() >= 4 && fields[2] == std::to_string(uid) &&
        fields[3] == std::to_string(gid)) {
      return true;
    }
  }
  std::ifstream group("/etc/group");
  for (std::string line; std::getline(group, line);) {
    std::vector<std::string> fields = fieldsOf(line, ':');
    if (fields.size() >= 4 && fields[2] == std::to_string(gid)) {
      for (const std::string& member : fieldsOf(fields[3], ',')) {
        if (member == user) {
          return true;
        }
      }
    }
  }
  return false;
}

bool processHasGroup(gid_t gid) {
  if (getegid() == gid) {
    return true;
  }
  int count = getgroups(0, nullptr);
  if (count <= 0) {
    return false;
  }
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == gid) {
      return true;
    }
  }
  return false;
}

std::string octal(unsigned mode) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04o", mode & 07777);
  return text;
}

}  // namespace

ToolFileFacts readToolFileFacts(const std::string& path) {
  ToolFileFacts facts;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return facts;
  }
  facts.exists = true;
  facts.owner = info.st_uid;
  facts.group = info.st_gid;
  facts.mode = info.st_mode;
  facts.root = geteuid() == 0;
  facts.inGroup = processHasGroup(info.st_gid);
  facts.userName = accountName(getuid());
  facts.ownerName = accountName(info.st_uid);
  facts.groupName = groupName(info.st_gid);
  facts.databaseMakesMember = databaseMakesMember(facts.userName, getuid(), info.st_gid);
  return facts;
}

std::string whyToolNotRunnable(const std::string& path, const ToolFileFacts& facts) {
  const std::string file = path + " (mode " + octal(facts.mode) + ", owner " + facts.ownerName +
                           ", group " + facts.groupName + ")";
  bool groupMayRun = (facts.mode & S_IXGRP) != 0;
  bool othersMayRun = (facts.mode & S_IXOTH) != 0;
  if (!facts.root && groupMayRun && !othersMayRun && !facts.inGroup) {
    if (facts.databaseMakesMember) {
      return "you (" + facts.userName + ") were made a member of group " + facts.groupName +
             ", which may run " + file + ", after you logged in: log out and in again, then run it";
    }
    return file + " may be run only by root and the members of group " + facts.groupName +
           ", and you (" + facts.userName +
           ") are not a member. An administrator adds you with: " + "sudo adduser " +
           facts.userName + " " + facts.groupName + "; then log out and in again";
  }
  return "you (" + facts.userName + ") may not run " + file;
}

ToolAccess inspectTool(const std::string& toolOption) {
  ToolLocation tool = locateToolFromHere(toolOption);
  if (tool.path.empty()) {
    tool = locateUnrunnableTool();
  }
  ToolAccess access;
  access.path = tool.path;
  access.how = tool.how;
  if (tool.path.empty()) {
    return access;
  }
  access.runnable = isRunnableFile(tool.path);
  if (!access.runnable && isPlainFile(tool.path)) {
    access.why = whyToolNotRunnable(tool.path, readToolFileFacts(tool.path));
  }
  return access;
}
