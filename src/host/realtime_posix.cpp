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
//
// The session's autogroup is left alone. Where the kernel turns autogroups off (Debian's does by
// default) its nice value does nothing; where they are on, a value set here would outlive the run
// for every later program of the same terminal session.
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "host/realtime.h"

namespace {

constexpr size_t kMaxCpus = size_t{1} << 20;
constexpr int kHighClassNice = -10;
constexpr int kTimeCriticalNice = -20;
constexpr uint32_t kNormalPriorityClass = 0x20;
constexpr int kThreadPriorityNormal = 0;

// The number of CPUs the system may ever have: one more than the highest number in
// /sys/devices/system/cpu/possible ("0-127"), else the configured processors.
size_t possibleCpus() {
  size_t count = 0;
  if (std::FILE* file = std::fopen("/sys/devices/system/cpu/possible", "re")) {
    char text[256] = "";
    if (std::fgets(text, sizeof(text), file) != nullptr) {
      // The last number of a list of ranges such as "0-3,8-11".
      unsigned long last = 0;
      bool digits = false;
      for (const char* p = text; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') {
          last = digits ? last * 10 + static_cast<unsigned long>(*p - '0')
                        : static_cast<unsigned long>(*p - '0');
          digits = true;
        } else {
          digits = false;
        }
      }
      count = last + 1;
    }
    std::fclose(file);
  }
  long configured = sysconf(_SC_NPROCESSORS_CONF);
  if (configured > 0 && static_cast<size_t>(configured) > count) {
    count = static_cast<size_t>(configured);
  }
  return count > 0 ? count : 1;
}

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

  bool readAffinity(CpuSet* allowed) override {
    // The set must cover every CPU the kernel may have, or the call fails with EINVAL; it
    // starts at the system's possible CPUs and grows until it does.
    size_t count = possibleCpus();
    for (;;) {
      cpu_set_t* set = CPU_ALLOC(count);
      if (set == nullptr) {
        last_error_ = ENOMEM;
        return false;
      }
      size_t bytes = CPU_ALLOC_SIZE(count);
      CPU_ZERO_S(bytes, set);
      if (sched_getaffinity(0, bytes, set) == 0) {
        allowed->assign(count, false);
        for (size_t cpu = 0; cpu < count; ++cpu) {
          (*allowed)[cpu] = CPU_ISSET_S(cpu, bytes, set) != 0;
        }
        CPU_FREE(set);
        return true;
      }
      int error = errno;
      CPU_FREE(set);
      if (error != EINVAL || count >= kMaxCpus) {
        last_error_ = error;
        return false;
      }
      count *= 2;
    }
  }

  int processorCount() override { return static_cast<int>(sysconf(_SC_NPROCESSORS_CONF)); }

  void setAffinity(const CpuSet& cpus) override {
    size_t count = cpus.empty() ? 1 : cpus.size();
    cpu_set_t* set = CPU_ALLOC(count);
    if (set == nullptr) {
      return;
    }
    size_t bytes = CPU_ALLOC_SIZE(count);
    CPU_ZERO_S(bytes, set);
    for (size_t cpu = 0; cpu < cpus.size(); ++cpu) {
      if (cpus[cpu]) {
        CPU_SET_S(cpu, bytes, set);
      }
    }
    sched_setaffinity(0, bytes, set);
    CPU_FREE(set);
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
