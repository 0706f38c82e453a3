// Windows has no numeric accounts to name here; processes are named by their number.
#include <string>

#include "account_names.h"

std::string accountName(unsigned uid) {
  return "uid " + std::to_string(uid);
}

std::string groupName(unsigned gid) {
  return "gid " + std::to_string(gid);
}

std::string describeProcess(int pid) {
  return "process " + std::to_string(pid);
}
