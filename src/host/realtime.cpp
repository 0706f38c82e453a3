#include "host/realtime.h"

#include "app/status_output.h"

uint64_t pickCpuMask(uint64_t allowed, int width, int processors) {
  if (width > 64) {
    width = 64;
  }
  uint64_t highest = 0;
  int ordinal = 1;
  for (int bit = 0; bit < width; ++bit) {
    uint64_t cpu = uint64_t{1} << bit;
    if ((allowed & cpu) == 0) {
      continue;
    }
    if (ordinal == processors) {
      return cpu;
    }
    highest = cpu;
    ++ordinal;
  }
  // Fewer CPUs allowed than the system has (a restricted affinity, as containers and cpusets
  // make routinely): pin to the highest allowed one rather than leave the process unpinned.
  return highest;
}

bool setupRealtime(SchedulingPlatform& platform) {
  platform.raiseThreadPriority();
  platform.raiseProcessClass();

  uint64_t processMask = 0;
  uint64_t systemMask = 0;
  int width = 0;
  if (!platform.readAffinity(&processMask, &systemMask, &width)) {
    return false;
  }
  int processors = platform.processorCount();
  platform.setAffinity(pickCpuMask(processMask, width, processors));

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
