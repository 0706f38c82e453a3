#include "host/realtime.h"

#include "app/status_output.h"

int pickCpu(const CpuSet& allowed, int processors) {
  int highest = -1;
  int ordinal = 1;
  for (size_t cpu = 0; cpu < allowed.size(); ++cpu) {
    if (!allowed[cpu]) {
      continue;
    }
    if (ordinal == processors) {
      return static_cast<int>(cpu);
    }
    highest = static_cast<int>(cpu);
    ++ordinal;
  }
  // Fewer CPUs allowed than the system has (a restricted affinity, as containers and cpusets
  // make routinely): pin to the highest allowed one rather than leave the process unpinned.
  return highest;
}

bool setupRealtime(SchedulingPlatform& platform) {
  platform.raiseThreadPriority();
  platform.raiseProcessClass();

  CpuSet allowed;
  if (!platform.readAffinity(&allowed)) {
    return false;
  }
  int cpu = pickCpu(allowed, platform.processorCount());
  CpuSet pinned(allowed.size(), false);
  if (cpu >= 0) {
    pinned[static_cast<size_t>(cpu)] = true;
  }
  platform.setAffinity(pinned);

  uint32_t priorityClass = platform.priorityClass();
  if (priorityClass == 0) {
    printStatus("ERRORError getting priority class: %d. Aborting.\n", platform.lastError());
    return false;
  }
  if (priorityClass != kHighPriorityClass) {
    printStatus("ERRORPriority class is not 0x80. Aborting.\n");
    return false;
  }
  int threadPriority = platform.threadPriority();
  if (threadPriority == kThreadPriorityErrorReturn) {
    printStatus("ERROR getting thread priority: %d. Aborting.\n", platform.lastError());
    return false;
  }
  if (threadPriority != kThreadPriorityTimeCritical) {
    printStatus("ERRORThread priority is not 0x0F. Aborting.\n");
    return false;
  }
  return true;
}
