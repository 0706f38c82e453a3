// The requests that restore the interface are built once, ahead of time, into static buffers;
// sending them takes nothing but socket(), sendto() and close(), which are safe in a signal
// handler. The kernel carries a link request out while sendto() runs, so each is done before the
// next is sent: the bit timing can only be set while the interface is down.
#include "can/interface_restore_linux.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "can/link_request_linux.h"

namespace {

// Stop, put the bit timing back, then up or down as found.
constexpr int kMaxRequests = 3;

// Written before |g_armed| is set and never changed afterwards.
LinkRequest g_requests[kMaxRequests];
int g_requestCount = 0;
std::atomic<bool> g_armed{false};

// The signals whose default action ends the process; SIGKILL and SIGSTOP cannot be caught, and
// the real-time signals are added from SIGRTMIN to SIGRTMAX.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
    SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
    SIGXCPU,   SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

void sendRestore() {
  if (!g_armed.load()) {
    return;
  }
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) {
    return;
  }
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  for (int i = 0; i < g_requestCount; ++i) {
    // The answers are not needed: a request that fails leaves the next one to do what it can.
    ssize_t sent;
    do {
      sent = sendto(fd, g_requests[i].bytes, g_requests[i].length(), 0,
                    reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel));
    } while (sent < 0 && errno == EINTR);
  }
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

void catchSignal(int signal) {
  struct sigaction previous {};
  if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = restoreOnSignal;
  action.sa_flags = SA_RESETHAND;
  // Nothing interrupts the restore; a second signal ends the process once it is done.
  sigfillset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

}  // namespace

void restoreInterfaceAtEnd(const std::string& name, const CanRestorePlan& plan) {
  if (g_armed.load()) {
    return;
  }
  int count = 0;
  if (plan.putTimingBack) {
    if (!buildLinkFlagsRequest(&g_requests[count++], name, false, 0) ||
        !buildBitTimingRequest(&g_requests[count++], name, plan.timing, 0)) {
      return;
    }
  }
  if (!buildLinkFlagsRequest(&g_requests[count++], name, plan.up, 0)) {
    return;
  }
  g_requestCount = count;
  g_armed.store(true);

  std::atexit(restoreAtExit);
  for (int signal : kEndingSignals) {
    catchSignal(signal);
  }
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
    catchSignal(signal);
  }
}
