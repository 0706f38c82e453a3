#include <sys/capability.h>
#include <sys/resource.h>
#include <unistd.h>

#include "linux_facts.h"
#include "tool_locator.h"

namespace {

bool fileHas(cap_t caps, cap_value_t capability) {
  cap_flag_value_t permitted = CAP_CLEAR;
  cap_flag_value_t effective = CAP_CLEAR;
  return cap_get_flag(caps, capability, CAP_PERMITTED, &permitted) == 0 &&
         cap_get_flag(caps, capability, CAP_EFFECTIVE, &effective) == 0 && permitted == CAP_SET &&
         effective == CAP_SET;
}

}  // namespace

PrivilegeFacts readPrivilegeFacts(const std::string& toolOption) {
  PrivilegeFacts facts;
  facts.root = geteuid() == 0;
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) == 0) {
    facts.niceLimit = limit.rlim_cur == RLIM_INFINITY ? 40 : static_cast<int64_t>(limit.rlim_cur);
  }
  ToolLocation tool = locateToolFromHere(toolOption);
  facts.toolPath = tool.path;
  facts.toolHow = tool.how;
  facts.toolFound = !tool.path.empty() && isRunnableFile(tool.path);
  if (facts.toolFound) {
    cap_t caps = cap_get_file(tool.path.c_str());
    // A file without capabilities reads as an error (ENODATA): it simply has none.
    facts.capsRead = true;
    if (caps != nullptr) {
      facts.netAdmin = fileHas(caps, CAP_NET_ADMIN);
      facts.sysNice = fileHas(caps, CAP_SYS_NICE);
      cap_free(caps);
    }
  }
  return facts;
}
