// Takes or probes a channel lock from a process of its own, for the channel lock tests:
//   channel_lock_child acquire NAME   exits 0 when it took the lock, 1 when it did not
//   channel_lock_child probe NAME     prints free, held or unknown
#include <cstdio>
#include <cstring>

#include "can/channel_lock.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    return 2;
  }
  if (std::strcmp(argv[1], "acquire") == 0) {
    return acquireChannelLock(argv[2]) ? 0 : 1;
  }
  if (std::strcmp(argv[1], "probe") == 0) {
    switch (probeChannelLock(argv[2])) {
      case ChannelLockState::kFree:
        std::printf("free\n");
        break;
      case ChannelLockState::kHeld:
        std::printf("held\n");
        break;
      case ChannelLockState::kUnknown:
        std::printf("unknown\n");
        break;
    }
    return 0;
  }
  return 2;
}
