// The request that restores the interface is built once, ahead of time, into a static buffer;
// sending it takes nothing but socket(), sendto() and close(), which are safe in a signal
// handler (the netlink library allocates, which is not). Restoring means only setting the
// interface's up flag: the run never changes the bit rate of an interface that was up, and
// stopping an interface keeps its bit rate.
#include "can/interface_restore_linux.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

// An RTM_NEWLINK request that sets or clears IFF_UP on the interface named in it.
struct LinkStateRequest {
  nlmsghdr header;
  ifinfomsg link;
  rtattr nameAttribute;
  char name[IFNAMSIZ];
};

// The request, written before |g_armed| is set and never changed afterwards.
LinkStateRequest g_request;
std::atomic<bool> g_armed{false};

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void sendRestore() {
  if (!g_armed.load()) {
    return;
  }
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) {
    return;
  }
  // The kernel carries a request out while sendto() runs; its answer is not needed.
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  sendto(fd, &g_request, g_request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
         sizeof(kernel));
  close(fd);
}

void restoreAtExit() {
  sendRestore();
}

void restoreOnSignal(int signal) {
  int savedErrno = errno;
  sendRestore();
  // The handler was reset to the default on entry, and the signal is blocked until this
  // returns: then it ends the process as it would have without the handler.
  raise(signal);
  errno = savedErrno;
}

}  // namespace

void restoreInterfaceAtEnd(const std::string& name, bool up) {
  if (g_armed.load() || name.size() >= IFNAMSIZ) {
    return;
  }
  std::memset(&g_request, 0, sizeof(g_request));
  g_request.nameAttribute.rta_type = IFLA_IFNAME;
  g_request.nameAttribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(name.size() + 1));
  std::memcpy(g_request.name, name.c_str(), name.size() + 1);
  g_request.header.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(sizeof(ifinfomsg)) +
                                                     RTA_ALIGN(g_request.nameAttribute.rta_len));
  g_request.header.nlmsg_type = RTM_NEWLINK;
  g_request.header.nlmsg_flags = NLM_F_REQUEST;
  g_request.link.ifi_family = AF_UNSPEC;
  g_request.link.ifi_index = 0;  // the interface is found by its name
  g_request.link.ifi_flags = up ? IFF_UP : 0;
  g_request.link.ifi_change = IFF_UP;
  g_armed.store(true);

  std::atexit(restoreAtExit);
  for (int signal : kEndingSignals) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = restoreOnSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int other : kEndingSignals) {
      sigaddset(&action.sa_mask, other);
    }
    sigaction(signal, &action, nullptr);
  }
}
