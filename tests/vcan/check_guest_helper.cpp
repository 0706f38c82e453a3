// What the nodletflash-check guest needs and busybox lacks:
//   check-guest-helper chatter IFACE MS       sends a frame with identifier 0x123 on IFACE every
//                                             0.5 ms for MS milliseconds: another device on the
//                                             bus
//   check-guest-helper as-user UID PROGRAM [ARG...]
//                                             runs PROGRAM as user and group UID, with no
//                                             supplementary groups and no capabilities
#include <grp.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kChatterId = 0x123;
constexpr long kChatterPeriodNs = 500000;

int chatter(const char* interface, int milliseconds) {
  int fd = socket(PF_CAN, SOCK_RAW, CAN_RAW);
  sockaddr_can address{};
  address.can_family = AF_CAN;
  address.can_ifindex = static_cast<int>(if_nametoindex(interface));
  if (fd < 0 || address.can_ifindex == 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::perror("chatter");
    return 1;
  }
  can_frame frame{};
  frame.can_id = kChatterId;
  frame.len = 2;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  long sent = 0;
  while (std::chrono::steady_clock::now() < end) {
    frame.data[0] = static_cast<uint8_t>(sent);
    if (write(fd, &frame, sizeof(frame)) == static_cast<ssize_t>(sizeof(frame))) {
      ++sent;
    }
    timespec pause{0, kChatterPeriodNs};
    nanosleep(&pause, nullptr);
  }
  std::printf("chatter: %ld frames sent\n", sent);
  return 0;
}

int asUser(int uid, char** argv) {
  gid_t group = static_cast<gid_t>(uid);
  if (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(static_cast<uid_t>(uid)) != 0) {
    std::perror("as-user");
    return 126;
  }
  execv(argv[0], argv);
  std::perror("as-user: exec");
  return 127;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "chatter") == 0) {
    return chatter(argv[2], static_cast<int>(std::strtol(argv[3], nullptr, 10)));
  }
  if (argc >= 4 && std::strcmp(argv[1], "as-user") == 0) {
    return asUser(static_cast<int>(std::strtol(argv[2], nullptr, 10)), argv + 3);
  }
  std::fprintf(stderr,
               "usage: check-guest-helper chatter IFACE MS | as-user UID PROGRAM [ARG...]\n");
  return 2;
}
