// This computer's CAN set-up on Linux: the SocketCAN interface the tool would choose, whether
// the tool could control it, and what the bus carries.
#include <optional>

#include "can/can_link_linux.h"
#include "channel_lock_finding.h"
#include "linux_facts.h"
#include "preflight.h"

void checkComputer(const PreflightOptions& options, PreflightResult* result) {
  std::vector<Finding>& findings = result->findings;
  InterfaceFacts interface = readInterfaceFacts(SystemRoots{});
  judgeInterface(interface, &findings);
  bool usable = interface.exists && interface.isCan;
  if (usable) {
    // Read as the tool reads it.
    CanInterfaceState link;
    bool read = CanLink().read(interface.name, &link);
    judgeCanLink(interface, read ? std::optional(link) : std::nullopt, &findings);
  }
  judgePrivileges(readPrivilegeFacts(options.toolPath), &findings);
  if (!usable) {
    return;
  }
  checkChannelLock(interface.name, &findings);
  if (options.listenMs <= 0) {
    findings.push_back(Finding{Severity::kWarning, "bus", "not listened to (--listen-ms=0)", 0, 0});
  } else if (!interface.up) {
    findings.push_back(Finding{
        Severity::kWarning, "bus",
        "not listened to: " + interface.name + " is down, and this check does not bring it up", 0,
        0});
  } else {
    judgeBusTraffic(listenToBus(interface.name, options.listenMs), &findings);
  }
}
