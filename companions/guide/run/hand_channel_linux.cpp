#include <fcntl.h>
#include <linux/can.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "can/can_frame_linux.h"
#include "can/can_interface_linux.h"
#include "download/node_frames.h"
#include "hand_channel.h"

struct HandChannelState {
  int reportFd = -1;      // the virtual hand's report, read end
  int childFd = -1;       // its write end, until the child holds it
  int orderFd = -1;       // the orders to the virtual hand's switch, write end
  int orderChildFd = -1;  // their read end, until the child holds it
  int busFd = -1;         // a raw socket on the tool's interface, only ever read
  std::string pending;    // a report line not yet ended
  CanFrame query{};
};

namespace {

void closeFd(int* fd) {
  if (*fd >= 0) {
    ::close(*fd);
    *fd = -1;
  }
}

bool sameFrame(const CanFrame& a, const CanFrame& b) {
  return a.identifier == b.identifier && a.type == b.type && a.length == b.length &&
         std::memcmp(a.data, b.data, a.length) == 0;
}

// A raw socket that receives every frame on the interface the tool opens; -1 when it cannot be
// had (no CAN support, no interface is the hand's, or it is gone). It never sends, and changes
// nothing on the interface.
int listenToToolsInterface() {
  // The tool's own choice: the configuration file's interface, else the first peak_usb one.
  CanInterfaceChoice choice = chooseCanInterface("/sys/class/net", kInterfaceConfigPath);
  if (choice.rule == CanInterfaceRule::kNone) {
    return -1;
  }
  unsigned index = if_nametoindex(choice.name.c_str());
  if (index == 0) {
    return -1;
  }
  int fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
  if (fd < 0) {
    return -1;
  }
  sockaddr_can address{};
  address.can_family = AF_CAN;
  address.can_ifindex = static_cast<int>(index);
  // Each frame's arrival time, so that a drain that comes late still times it right.
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof(on));
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// When a received frame arrived, on the guide's clock: |now| less its age by the kernel's
// timestamp; |now| itself when the frame carries none.
double arrivalTime(msghdr* header, double now) {
  for (cmsghdr* c = CMSG_FIRSTHDR(header); c != nullptr; c = CMSG_NXTHDR(header, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
      timeval stamp{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
      double wall =
          std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
              .count();
      double age =
          wall - (static_cast<double>(stamp.tv_sec) + static_cast<double>(stamp.tv_usec) / 1e6);
      return age > 0 ? now - age : now;
    }
  }
  return now;
}

}  // namespace

HandChannel::HandChannel() : state_(std::make_unique<HandChannelState>()) {}

HandChannel::~HandChannel() {
  close();
}

PowerCycleStep::Source HandChannel::open(bool rehearse, int node, std::vector<std::string>* argv,
                                         bool orders) {
  close();
  if (rehearse && orders) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      if (fcntl(fds[0], F_SETFD, 0) == 0) {
        state_->orderChildFd = fds[0];
        state_->orderFd = fds[1];
        argv->insert(argv->begin() + 1, "--sim-switch-fd=" + std::to_string(fds[0]));
      } else {
        ::close(fds[0]);
        ::close(fds[1]);
      }
    }
  }
  if (rehearse) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      return PowerCycleStep::kClock;
    }
    // The write end alone is left open across exec, for the virtual hand.
    if (fcntl(fds[1], F_SETFD, 0) != 0 || fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      return PowerCycleStep::kClock;
    }
    state_->reportFd = fds[0];
    state_->childFd = fds[1];
    argv->insert(argv->begin() + 1, "--sim-events-fd=" + std::to_string(fds[1]));
    return PowerCycleStep::kVirtualHand;
  }
  state_->query = queryFrame(node);
  state_->busFd = listenToToolsInterface();
  return state_->busFd >= 0 ? PowerCycleStep::kBus : PowerCycleStep::kClock;
}

void HandChannel::childStarted() {
  closeFd(&state_->childFd);
  closeFd(&state_->orderChildFd);
}

bool HandChannel::order(const std::string& order) {
  std::string line = order + "\n";
  // A line this short is written whole or not at all; a virtual hand that has ended closed it.
  return state_->orderFd >= 0 &&
         write(state_->orderFd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

void HandChannel::closeOrders() {
  closeFd(&state_->orderFd);
}

void HandChannel::drain(PowerCycleWatch* watch, double now) {
  HandChannelState& s = *state_;
  while (s.reportFd >= 0) {
    char buffer[512];
    ssize_t got = read(s.reportFd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      if (got == 0 || errno != EAGAIN) {
        closeFd(&s.reportFd);
      }
      break;
    }
    s.pending.append(buffer, static_cast<size_t>(got));
    size_t newline;
    while ((newline = s.pending.find('\n')) != std::string::npos) {
      watch->handReport(s.pending.substr(0, newline));
      s.pending.erase(0, newline + 1);
    }
    // The report's lines are short; one that is not is no report.
    if (s.pending.size() > 256) {
      s.pending.clear();
    }
  }
  while (s.busFd >= 0) {
    can_frame received{};
    iovec part{&received, sizeof(received)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timeval))];
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    ssize_t got = recvmsg(s.busFd, &header, 0);
    if (got < 0) {
      // The tool stops and starts the interface between probes: each stop leaves one ENETDOWN,
      // and the socket hears the bus again once the interface is up.
      if (errno == EINTR || errno == ENETDOWN) {
        continue;
      }
      if (errno != EAGAIN) {
        closeFd(&s.busFd);
      }
      break;
    }
    CanFrame frame{};
    if (static_cast<size_t>(got) < sizeof(received) || !frameFromSocket(received, &frame)) {
      continue;
    }
    // Frames sent from this computer carry MSG_DONTROUTE; of those, the query is the tool's.
    // Every other frame is one the tool takes for the node's answer.
    if ((header.msg_flags & MSG_DONTROUTE) != 0 && sameFrame(frame, s.query)) {
      watch->querySeen(arrivalTime(&header, now));
    } else {
      watch->answerSeen(arrivalTime(&header, now));
    }
  }
}

void HandChannel::stopListening() {
  closeFd(&state_->busFd);
}

void HandChannel::close() {
  closeFd(&state_->reportFd);
  closeFd(&state_->childFd);
  closeFd(&state_->busFd);
  closeFd(&state_->orderFd);
  closeFd(&state_->orderChildFd);
  state_->pending.clear();
}

std::string toolsInterfaceName() {
  return chooseCanInterface("/sys/class/net", kInterfaceConfigPath).name;
}
