#include <sys/capability.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "linux_facts.h"
#include "tool_access.h"

namespace {

bool fileHas(cap_t caps, cap_value_t capability) {
  cap_flag_value_t permitted = CAP_CLEAR;
  cap_flag_value_t effective = CAP_CLEAR;
  return cap_get_flag(caps, capability, CAP_PERMITTED, &permitted) == 0 &&
         cap_get_flag(caps, capability, CAP_EFFECTIVE, &effective) == 0 && permitted == CAP_SET &&
         effective == CAP_SET;
}

}  // namespace

CapabilityGate readCapabilityGate(const SystemRoots& roots) {
  CapabilityGate gate;
  std::ifstream status(roots.proc + "/self/status");
  bool haveBounding = false;
  for (std::string line; std::getline(status, line);) {
    std::istringstream fields(line);
    std::string key;
    std::string value;
    fields >> key >> value;
    if (key == "NoNewPrivs:") {
      gate.noNewPrivs = value == "1";
    } else if (key == "CapBnd:") {
      gate.bounding = std::strtoull(value.c_str(), nullptr, 16);
      haveBounding = true;
    }
  }
  gate.read = haveBounding;
  return gate;
}

PrivilegeFacts readPrivilegeFacts(const std::string& toolOption) {
  PrivilegeFacts facts;
  facts.root = geteuid() == 0;
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) == 0) {
    facts.niceLimit = limit.rlim_cur == RLIM_INFINITY ? 40 : static_cast<int64_t>(limit.rlim_cur);
  }
  facts.gate = readCapabilityGate(SystemRoots{});
  ToolAccess tool = inspectTool(toolOption);
  facts.toolPath = tool.path;
  facts.toolHow = tool.how;
  facts.toolFound = tool.runnable;
  facts.notRunnable = tool.why;
  if (!tool.path.empty() && (tool.runnable || !tool.why.empty())) {
    cap_t caps = cap_get_file(tool.path.c_str());
    // A file without capabilities reads as an error (ENODATA): it simply has none.
    facts.capsRead = true;
    if (caps != nullptr) {
      facts.netAdmin = fileHas(caps, CAP_NET_ADMIN);
      facts.sysNice = fileHas(caps, CAP_SYS_NICE);
      cap_free(caps);
    }
    struct statvfs mount {};
    facts.nosuid = statvfs(tool.path.c_str(), &mount) == 0 && (mount.f_flag & ST_NOSUID) != 0;
  }
  return facts;
}
