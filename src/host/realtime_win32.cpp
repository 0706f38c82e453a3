// Windows' own scheduling calls. Process and thread handles are the pseudo-handles of the
// current process and thread, which need no closing.
#include <windows.h>

#include "host/realtime.h"

namespace {

constexpr size_t kMaskBits = 8 * sizeof(DWORD_PTR);

// The process's priority class, affinity and the current thread's priority.
class Win32Scheduling : public SchedulingPlatform {
 public:
  void raiseThreadPriority() override {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  }

  void raiseProcessClass() override { SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS); }

  // The affinity of a process is one mask as wide as a pointer: 64 CPUs in a 64-bit process.
  bool readAffinity(CpuSet* allowed) override {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
      return false;
    }
    allowed->assign(kMaskBits, false);
    for (size_t cpu = 0; cpu < kMaskBits; ++cpu) {
      (*allowed)[cpu] = ((process >> cpu) & 1) != 0;
    }
    return true;
  }

  int processorCount() override {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
  }

  void setAffinity(const CpuSet& cpus) override {
    DWORD_PTR mask = 0;
    for (size_t cpu = 0; cpu < cpus.size() && cpu < kMaskBits; ++cpu) {
      if (cpus[cpu]) {
        mask |= DWORD_PTR{1} << cpu;
      }
    }
    SetProcessAffinityMask(GetCurrentProcess(), mask);
  }

  uint32_t priorityClass() override { return GetPriorityClass(GetCurrentProcess()); }

  int threadPriority() override { return GetThreadPriority(GetCurrentThread()); }

  int lastError() override { return static_cast<int>(GetLastError()); }
};

}  // namespace

std::unique_ptr<SchedulingPlatform> makeSystemScheduling() {
  return std::make_unique<Win32Scheduling>();
}
