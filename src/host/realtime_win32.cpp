// Windows' own scheduling calls. Process and thread handles are the pseudo-handles of the
// current process and thread, which need no closing.
#include <windows.h>

#include "host/realtime.h"

namespace {

// The process's priority class, affinity and the current thread's priority.
class Win32Scheduling : public SchedulingPlatform {
 public:
  void raiseThreadPriority() override {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  }

  void raiseProcessClass() override { SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS); }

  bool readAffinity(uint64_t* processMask, uint64_t* systemMask, int* width) override {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
      return false;
    }
    *processMask = process;
    *systemMask = system;
    *width = static_cast<int>(8 * sizeof(DWORD_PTR));
    return true;
  }

  int processorCount() override {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
  }

  void setAffinity(uint64_t mask) override {
    SetProcessAffinityMask(GetCurrentProcess(), static_cast<DWORD_PTR>(mask));
  }

  uint32_t priorityClass() override { return GetPriorityClass(GetCurrentProcess()); }

  int threadPriority() override { return GetThreadPriority(GetCurrentThread()); }

  int lastError() override { return static_cast<int>(GetLastError()); }
};

}  // namespace

std::unique_ptr<SchedulingPlatform> makeSystemScheduling() {
  return std::make_unique<Win32Scheduling>();
}
