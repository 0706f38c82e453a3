#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "linux_facts.h"

BusTraffic listenToBus(const std::string& name, int milliseconds) {
  BusTraffic traffic;
  traffic.milliseconds = milliseconds;
  unsigned index = if_nametoindex(name.c_str());
  if (index == 0) {
    traffic.failure = "no interface " + name;
    return traffic;
  }
  int fd = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
  if (fd < 0) {
    traffic.failure = std::string("no CAN socket: ") + std::strerror(errno);
    return traffic;
  }
  // Every frame, error frames included; this socket never sends.
  can_err_mask_t allErrors = CAN_ERR_MASK;
  sockaddr_can address{};
  address.can_family = AF_CAN;
  address.can_ifindex = static_cast<int>(index);
  if (setsockopt(fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &allErrors, sizeof(allErrors)) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    traffic.failure = std::string("cannot listen: ") + std::strerror(errno);
    ::close(fd);
    return traffic;
  }
  using Clock = std::chrono::steady_clock;
  Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
    pollfd wait{fd, POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    int ready = poll(&wait, 1, static_cast<int>(left) + 1);
    if (ready < 0 && errno != EINTR) {
      traffic.failure = std::string("reading failed: ") + std::strerror(errno);
      break;
    }
    if (ready <= 0) {
      continue;
    }
    can_frame frame{};
    if (recv(fd, &frame, sizeof(frame), MSG_DONTWAIT) != static_cast<ssize_t>(sizeof(frame))) {
      continue;
    }
    if ((frame.can_id & CAN_ERR_FLAG) != 0) {
      ++traffic.errorFrames;
    } else {
      ++traffic.framesById[frame.can_id];
    }
  }
  ::close(fd);
  traffic.listened = traffic.failure.empty();
  return traffic;
}
