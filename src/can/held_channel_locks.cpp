#include "can/held_channel_locks.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<std::string>& heldLocks() {
  static std::vector<std::string> held;
  return held;
}

}  // namespace

bool holdsChannelLock(const std::string& name) {
  const std::vector<std::string>& held = heldLocks();
  return std::find(held.begin(), held.end(), name) != held.end();
}

void noteChannelLockHeld(const std::string& name) {
  if (!holdsChannelLock(name)) {
    heldLocks().push_back(name);
  }
}
