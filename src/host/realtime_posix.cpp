// Linux has no priority classes: both levels map onto the normal scheduler's nice values, the
// highest priorities below the real-time policies. A real-time policy is no choice here: a thread
// pinned to one CPU that busy-polls under SCHED_FIFO starves the kernel threads that deliver
// received CAN frames on that CPU.
//
//   high priority class  <=>  the process runs at nice -10 or below
//   time-critical thread <=>  the thread runs at nice -20
//
// The thread is raised first, to -20; raising the class then leaves a nice value that is already
// at or below -10 alone, so neither undoes the other. Without CAP_SYS_NICE (or an RLIMIT_NICE
// that allows these values) the nice value stays where it was and the read-back check fails.
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "host/realtime.h"

namespace {

constexpr int kHighClassNice = -10;
constexpr int kTimeCriticalNice = -20;
constexpr uint32_t kNormalPriorityClass = 0x20;
constexpr int kThreadPriorityNormal = 0;

// Scheduling through nice values and the CPU affinity of the calling (only) thread.
class PosixScheduling : public SchedulingPlatform {
 public:
  void raiseThreadPriority() override { setpriority(PRIO_PROCESS, 0, kTimeCriticalNice); }

  void raiseProcessClass() override {
    int nice = 0;
    if (readNice(&nice) && nice > kHighClassNice) {
      setpriority(PRIO_PROCESS, 0, kHighClassNice);
    }
  }

  bool readAffinity(uint64_t* processMask, uint64_t* systemMask, int* width) override {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) {
      last_error_ = errno;
      return false;
    }
    *processMask = 0;
    *systemMask = 0;
    int processors = processorCount();
    for (int cpu = 0; cpu < 64; ++cpu) {
      if (CPU_ISSET(cpu, &set)) {
        *processMask |= uint64_t{1} << cpu;
      }
      if (cpu < processors) {
        *systemMask |= uint64_t{1} << cpu;
      }
    }
    *width = 64;
    return true;
  }

  int processorCount() override { return static_cast<int>(sysconf(_SC_NPROCESSORS_CONF)); }

  void setAffinity(uint64_t mask) override {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < 64; ++cpu) {
      if ((mask >> cpu) & 1) {
        CPU_SET(cpu, &set);
      }
    }
    sched_setaffinity(0, sizeof(set), &set);
  }

  uint32_t priorityClass() override {
    int nice = 0;
    if (!readNice(&nice)) {
      return 0;
    }
    return nice <= kHighClassNice ? kHighPriorityClass : kNormalPriorityClass;
  }

  int threadPriority() override {
    int nice = 0;
    if (!readNice(&nice)) {
      return kThreadPriorityErrorReturn;
    }
    return nice == kTimeCriticalNice ? kThreadPriorityTimeCritical : kThreadPriorityNormal;
  }

  int lastError() override { return last_error_; }

 private:
  // getpriority() may return -1 as a value; errno tells a failure apart.
  bool readNice(int* nice) {
    errno = 0;
    int value = getpriority(PRIO_PROCESS, 0);
    if (value == -1 && errno != 0) {
      last_error_ = errno;
      return false;
    }
    *nice = value;
    return true;
  }

  int last_error_ = 0;
};

}  // namespace

std::unique_ptr<SchedulingPlatform> makeSystemScheduling() {
  return std::make_unique<PosixScheduling>();
}
