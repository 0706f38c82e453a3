#include "sim_port.h"

namespace {

constexpr uint64_t kAllProcessors = (uint64_t{1} << kSimProcessors) - 1;

}  // namespace

bool SimScheduling::readAffinity(uint64_t* processMask, uint64_t* systemMask, int* width) {
  if (fault_ == SchedulingFault::kAffinityReadFails) {
    return false;
  }
  *processMask = kAllProcessors;
  *systemMask = kAllProcessors;
  *width = 64;
  return true;
}

void SimScheduling::setAffinity(uint64_t mask) {
  // An empty mask or one outside the machine is refused and leaves the affinity as it was.
  if (mask != 0 && (mask & ~kAllProcessors) == 0) {
    affinity_ = mask;
  }
}

uint32_t SimScheduling::priorityClass() {
  switch (fault_) {
    case SchedulingFault::kClassReadFails:
      last_error_ = kSimClassReadError;
      return 0;
    case SchedulingFault::kClassWrong:
      return 0x20;
    default:
      return priority_class_;
  }
}

int SimScheduling::threadPriority() {
  switch (fault_) {
    case SchedulingFault::kThreadReadFails:
      last_error_ = kSimThreadReadError;
      return kThreadPriorityErrorReturn;
    case SchedulingFault::kThreadWrong:
      return 2;  // highest, short of time-critical
    default:
      return thread_priority_;
  }
}
