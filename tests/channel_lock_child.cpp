// Takes or probes a channel lock from a process of its own, for the channel lock tests:
//   channel_lock_child [as UID] acquire NAME   exits 0 when it took the lock, 1 when it did not
//   channel_lock_child [as UID] probe NAME     prints free, held PID, unusable OBSTACLE or
//                                              unknown
// "as UID" first drops to that user and group, with no supplementary groups.
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "can/channel_lock.h"

namespace {

const char* obstacleName(ChannelLockObstacle obstacle) {
  switch (obstacle) {
    case ChannelLockObstacle::kNotPlainFile:
      return "not-plain-file";
    case ChannelLockObstacle::kUnopenable:
      return "unopenable";
    case ChannelLockObstacle::kNoDirectory:
      return "no-directory";
    case ChannelLockObstacle::kUntrustedDirectory:
      return "untrusted-directory";
    case ChannelLockObstacle::kCannotCreate:
      return "cannot-create";
    case ChannelLockObstacle::kUnreadableLock:
      return "unreadable";
    case ChannelLockObstacle::kNone:
      break;
  }
  return "none";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "as") == 0) {
    auto id = static_cast<uid_t>(std::strtoul(argv[2], nullptr, 10));
    if (setgroups(0, nullptr) != 0 || setgid(id) != 0 || setuid(id) != 0) {
      return 3;
    }
    argc -= 2;
    argv += 2;
  }
  if (argc != 3) {
    return 2;
  }
  if (std::strcmp(argv[1], "acquire") == 0) {
    return acquireChannelLock(argv[2]) ? 0 : 1;
  }
  if (std::strcmp(argv[1], "probe") == 0) {
    ChannelLockProbe probe = probeChannelLock(argv[2]);
    switch (probe.state) {
      case ChannelLockState::kFree:
        std::printf("free\n");
        break;
      case ChannelLockState::kHeld:
        std::printf("held %d\n", probe.holder);
        break;
      case ChannelLockState::kUnusable:
        std::printf("unusable %s\n", obstacleName(probe.obstacle));
        break;
      case ChannelLockState::kUnknown:
        std::printf("unknown\n");
        break;
    }
    return 0;
  }
  return 2;
}
