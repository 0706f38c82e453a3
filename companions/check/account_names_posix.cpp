// Accounts and groups from the local databases, read as files: the check is linked statically,
// and a static program cannot load the C library's name services.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "account_names.h"

namespace {

// The first field of the line of |database| whose third field is |id|.
std::string nameFromDatabase(const char* database, unsigned id) {
  std::ifstream in(database);
  const std::string wanted = std::to_string(id);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ':');) {
      fields.push_back(field);
    }
    if (fields.size() >= 3 && fields[2] == wanted && !fields[0].empty()) {
      return fields[0];
    }
  }
  return "";
}

// The value of the line "Key:\tvalue" of /proc/PID/status.
std::string statusField(int pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size() + 1, key + ":") == 0) {
      std::istringstream value(line.substr(key.size() + 1));
      std::string word;
      value >> word;
      return word;
    }
  }
  return "";
}

}  // namespace

std::string accountName(unsigned uid) {
  std::string name = nameFromDatabase("/etc/passwd", uid);
  return name.empty() ? "uid " + std::to_string(uid) : name;
}

std::string groupName(unsigned gid) {
  std::string name = nameFromDatabase("/etc/group", gid);
  return name.empty() ? "gid " + std::to_string(gid) : name;
}

std::string describeProcess(int pid) {
  std::string text = "process " + std::to_string(pid);
  std::string command = statusField(pid, "Name");
  std::string uid = statusField(pid, "Uid");
  if (command.empty() || uid.empty()) {
    return text;
  }
  return text + " (" + command + ", user " +
         accountName(static_cast<unsigned>(std::strtoul(uid.c_str(), nullptr, 10))) + ")";
}
