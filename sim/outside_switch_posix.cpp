#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "outside_switch.h"

namespace {

SwitchOrder orderOf(const std::string& line) {
  if (line == "off") {
    return SwitchOrder::kOff;
  }
  if (line == "on") {
    return SwitchOrder::kOn;
  }
  if (line == "off-done") {
    return SwitchOrder::kOffDone;
  }
  if (line == "on-done") {
    return SwitchOrder::kOnDone;
  }
  return SwitchOrder::kNone;
}

// How long a wait for an order looks away to check for a stop signal.
constexpr int kWaitSliceMs = 100;

}  // namespace

SwitchOrder OrderReader::next(bool wait) {
  for (;;) {
    size_t newline = pending_.find('\n');
    while (newline != std::string::npos) {
      SwitchOrder order = orderOf(pending_.substr(0, newline));
      pending_.erase(0, newline + 1);
      if (order != SwitchOrder::kNone) {
        return order;
      }
      newline = pending_.find('\n');
    }
    if (fd_ < 0) {
      return SwitchOrder::kClosed;
    }
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, wait ? kWaitSliceMs : 0);
    if (ready < 0 && errno != EINTR) {
      fd_ = -1;
      continue;
    }
    if (ready <= 0) {
      if (stopCheck_ != nullptr) {
        stopCheck_();
      }
      if (!wait) {
        return SwitchOrder::kNone;
      }
      continue;
    }
    char buffer[64];
    ssize_t got = read(fd_, buffer, sizeof(buffer));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (got <= 0) {
      ::close(fd_);
      fd_ = -1;
      continue;
    }
    pending_.append(buffer, static_cast<size_t>(got));
    if (pending_.size() > 256 && pending_.find('\n') == std::string::npos) {
      pending_.clear();  // no order is that long
    }
  }
}

int runSwitch(const std::string& position) {
  if (position != kSwitchOff && position != kSwitchOn) {
    std::fprintf(stderr, "nodletflash-sim: --switch is off or on, not \"%s\"\n", position.c_str());
    return 2;
  }
  const char* path = std::getenv(kSwitchVariable);
  if (path == nullptr || path[0] == '\0') {
    std::fprintf(stderr,
                 "nodletflash-sim: --switch=%s switches a rehearsal's virtual hand only as a "
                 "power command of nodletflash-guide --rehearse (%s is not set)\n",
                 position.c_str(), kSwitchVariable);
    return 1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t length = std::strlen(path);
  if (length >= sizeof(address.sun_path)) {
    std::fprintf(stderr, "nodletflash-sim: the switch's path is too long: %s\n", path);
    return 1;
  }
  std::memcpy(address.sun_path, path, length + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::fprintf(stderr, "nodletflash-sim: cannot reach the rehearsal's switch at %s: %s\n", path,
                 std::strerror(errno));
    if (fd >= 0) {
      ::close(fd);
    }
    return 1;
  }
  std::string request = position + "\n";
  std::string answer;
  bool sent = write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
  while (sent && answer.find('\n') == std::string::npos && answer.size() < 512) {
    char buffer[256];
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    answer.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  answer = answer.substr(0, answer.find('\n'));
  if (answer == "ok") {
    return 0;
  }
  if (answer.rfind("error ", 0) == 0) {
    std::fprintf(stderr, "nodletflash-sim: %s\n", answer.substr(6).c_str());
  } else {
    std::fprintf(stderr, "nodletflash-sim: the rehearsal's guide did not answer the switch\n");
  }
  return 1;
}
