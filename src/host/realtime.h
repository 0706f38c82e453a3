// Raising the tool's scheduling priority and pinning it to one CPU for the download's busy polls.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

/// The priority levels the set-up asks for and checks, with their Windows values: a high
/// priority class for the process and a time-critical thread.
constexpr uint32_t kHighPriorityClass = 0x80;
constexpr int kThreadPriorityTimeCritical = 15;
/// What a failed thread-priority read returns.
constexpr int kThreadPriorityErrorReturn = 0x7FFFFFFF;

/// A set of CPUs by number: element i tells whether CPU i is in the set.
using CpuSet = std::vector<bool>;

/// The platform's scheduling operations, in the shape of the Windows calls the set-up makes.
class SchedulingPlatform {
 public:
  virtual ~SchedulingPlatform() = default;
  /// Asks for a time-critical current thread; the result is not checked here.
  virtual void raiseThreadPriority() = 0;
  /// Asks for the high priority class for the process; the result is not checked here.
  virtual void raiseProcessClass() = 0;
  /// Reads the CPUs the process may use, over the whole range of CPU numbers the platform's
  /// affinity covers (a mask's width on Windows, every CPU the system may have on Linux). False
  /// when they cannot be read.
  virtual bool readAffinity(CpuSet* allowed) = 0;
  /// The number of processors the system is configured with.
  virtual int processorCount() = 0;
  /// Confines the process to |cpus|; the result is not checked here.
  virtual void setAffinity(const CpuSet& cpus) = 0;
  /// The process's priority class, or 0 when it cannot be read.
  virtual uint32_t priorityClass() = 0;
  /// The current thread's priority, or kThreadPriorityErrorReturn when it cannot be read.
  virtual int threadPriority() = 0;
  /// The error code of the last failed read.
  virtual int lastError() = 0;
};

/// The scheduling operations of the platform the tool runs on.
std::unique_ptr<SchedulingPlatform> makeSystemScheduling();

/// The one CPU of |allowed| to pin to: the |processors|-th allowed CPU counted from CPU 0 when
/// the process may use that many, otherwise the highest-numbered allowed one; -1 when none is.
int pickCpu(const CpuSet& allowed, int processors);

/// Raises priority, pins the process to one CPU and checks that both priorities took effect.
/// A failed check prints its message; false means the process must end with status -1.
bool setupRealtime(SchedulingPlatform& platform);
