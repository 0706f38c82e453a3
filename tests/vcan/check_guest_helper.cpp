// What the nodletflash-check guest needs and busybox lacks:
//   check-guest-helper chatter IFACE MS       sends a frame with identifier 0x123 on IFACE every
//                                             0.5 ms for MS milliseconds: another device on the
//                                             bus
//   check-guest-helper as-user UID PROGRAM [ARG...]
//                                             runs PROGRAM as user and group UID, with no
//                                             supplementary groups and no capabilities
//   check-guest-helper as-member UID GID PROGRAM [ARG...]
//                                             the same with GID as its one supplementary group
//   check-guest-helper as-member-nnp UID GID PROGRAM [ARG...]
//                                             the same under no_new_privs
//   check-guest-helper give-caps FILE         gives FILE cap_net_admin,cap_sys_nice+ep, as
//                                             the package's postinst does (busybox has no
//                                             setcap)
#include <grp.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// Runs |argv| as |uid| (user and group) with |groups| as its supplementary groups.
int asUser(int uid, const std::vector<gid_t>& groups, bool noNewPrivs, char** argv) {
  gid_t group = static_cast<gid_t>(uid);
  if (setgroups(groups.size(), groups.data()) != 0 || setgid(group) != 0 ||
      setuid(static_cast<uid_t>(uid)) != 0) {
    std::perror("as-user");
    return 126;
  }
  if (noNewPrivs && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    std::perror("as-user: no_new_privs");
    return 126;
  }
  execv(argv[0], argv);
  std::perror("as-user: exec");
  return 127;
}

int giveCapabilities(const char* file) {
  vfs_cap_data caps{};
  caps.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
  caps.data[0].permitted = (1u << CAP_NET_ADMIN) | (1u << CAP_SYS_NICE);
  if (setxattr(file, "security.capability", &caps, sizeof(caps), 0) != 0) {
    std::perror("give-caps");
    return 1;
  }
  return 0;
}

int number(const char* text) {
  return static_cast<int>(std::strtol(text, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "chatter") == 0) {
    return chatter(argv[2], static_cast<int>(std::strtol(argv[3], nullptr, 10)));
  }
  if (argc >= 4 && std::strcmp(argv[1], "as-user") == 0) {
    return asUser(number(argv[2]), {}, false, argv + 3);
  }
  bool member = argc >= 5 && std::strcmp(argv[1], "as-member") == 0;
  bool memberNnp = argc >= 5 && std::strcmp(argv[1], "as-member-nnp") == 0;
  if (member || memberNnp) {
    return asUser(number(argv[2]), {static_cast<gid_t>(number(argv[3]))}, memberNnp, argv + 4);
  }
  if (argc == 3 && std::strcmp(argv[1], "give-caps") == 0) {
    return giveCapabilities(argv[2]);
  }
  std::fprintf(stderr,
               "usage: check-guest-helper chatter IFACE MS | as-user UID PROGRAM [ARG...] | "
               "as-member[-nnp] UID GID PROGRAM [ARG...] | give-caps FILE\n");
  return 2;
}
