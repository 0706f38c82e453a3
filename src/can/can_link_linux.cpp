#include "can/can_link_linux.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

CanLink::~CanLink() {
  if (socket_ >= 0) {
    close(socket_);
  }
}

bool CanLink::connect() {
  if (socket_ >= 0) {
    return true;
  }
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) {
    return false;
  }
  // The kernel answers while the request is sent; the bound only keeps a lost answer from
  // hanging the run.
  timeval bound{};
  bound.tv_sec = 2;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof(bound)) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
    close(fd);
    return false;
  }
  socket_ = fd;
  return true;
}

LinkAnswer CanLink::exchange(const LinkRequest& request, CanInterfaceState* state) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = sendto(socket_, request.bytes, request.length(), 0, reinterpret_cast<sockaddr*>(&kernel),
                  sizeof(kernel));
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(request.length())) {
    return LinkAnswer::kRefused;
  }
  unsigned char* answer = answer_.data();
  const auto* message = reinterpret_cast<const nlmsghdr*>(request.bytes);
  for (;;) {
    sockaddr_nl from{};
    socklen_t fromLength = sizeof(from);
    ssize_t got = recvfrom(socket_, answer, answer_.size(), MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0 || static_cast<size_t>(got) > answer_.size()) {
      return LinkAnswer::kMalformed;
    }
    if (from.nl_pid != 0) {
      continue;  // only the kernel answers
    }
    LinkAnswer verdict =
        readLinkAnswer(answer, static_cast<size_t>(got), message->nlmsg_seq, state);
    if (verdict != LinkAnswer::kOther) {
      return verdict;
    }
  }
}

bool CanLink::read(const std::string& name, CanInterfaceState* state) {
  LinkRequest request;
  if (!connect() || !buildGetLinkRequest(&request, name, ++sequence_)) {
    return false;
  }
  CanInterfaceState read;
  if (exchange(request, &read) != LinkAnswer::kLink) {
    return false;
  }
  *state = read;
  return true;
}

bool CanLink::setUp(const std::string& name, bool up) {
  LinkRequest request;
  return connect() && buildLinkFlagsRequest(&request, name, up, ++sequence_) &&
         exchange(request, nullptr) == LinkAnswer::kDone;
}

bool CanLink::setBitRate(const std::string& name, uint32_t bitRate) {
  CanBitTiming timing;
  timing.bitRate = bitRate;
  return setBitTiming(name, timing);
}

bool CanLink::setBitTiming(const std::string& name, const CanBitTiming& timing) {
  LinkRequest request;
  return connect() && buildBitTimingRequest(&request, name, timing, ++sequence_) &&
         exchange(request, nullptr) == LinkAnswer::kDone;
}
