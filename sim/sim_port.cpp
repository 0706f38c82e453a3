#include "sim_port.h"

namespace {

constexpr uint64_t kAllProcessors = (uint64_t{1} << kSimProcessors) - 1;

}  // namespace

bool SimScheduling::readAffinity(CpuSet* allowed) {
  if (fault_ == SchedulingFault::kAffinityReadFails) {
    return false;
  }
  // A 64-bit Windows process on a machine of kSimProcessors CPUs, all of them allowed.
  allowed->assign(64, false);
  for (int cpu = 0; cpu < kSimProcessors; ++cpu) {
    (*allowed)[static_cast<size_t>(cpu)] = true;
  }
  return true;
}

void SimScheduling::setAffinity(const CpuSet& cpus) {
  uint64_t mask = 0;
  for (size_t cpu = 0; cpu < cpus.size(); ++cpu) {
    if (cpus[cpu]) {
      mask |= cpu < 64 ? uint64_t{1} << cpu : ~kAllProcessors;
    }
  }
  // An empty set or one outside the machine is refused and leaves the affinity as it was.
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
