// The Linux scheduling set-up on this machine, in child processes so that the test runner keeps
// its own priority and CPUs.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "child_process.h"
#include "host/realtime.h"

namespace {

constexpr uid_t kNobody = 65534;

// The session's autogroup line ("/autogroup-12 nice 0"), empty without autogroups.
std::string autogroup() {
  std::FILE* file = std::fopen("/proc/self/autogroup", "r");
  if (file == nullptr) {
    return {};
  }
  char text[128] = "";
  std::string line = std::fgets(text, sizeof(text), file) != nullptr ? text : "";
  std::fclose(file);
  return line;
}

// Runs the set-up in a child after |prepare|; the child ends 0 when it succeeded, printing
// whether it ended at nice -20 on exactly one CPU with the session's autogroup as it was, and
// 255 when it failed (as the tool's entry point does). The child has a session of its own, so
// that a change to the autogroup would not outlive the test.
ChildResult runSetup(const std::function<void()>& prepare) {
  return runInChild([&prepare] {
    setsid();
    prepare();
    std::string group = autogroup();
    std::unique_ptr<SchedulingPlatform> platform = makeSystemScheduling();
    if (!setupRealtime(*platform)) {
      return 255;
    }
    cpu_set_t set;
    sched_getaffinity(0, sizeof(set), &set);
    bool pinned = CPU_COUNT(&set) == 1;
    bool raised = getpriority(PRIO_PROCESS, 0) == -20;
    std::printf("pinned=%d raised=%d group-kept=%d\n", pinned, raised, autogroup() == group);
    return 0;
  });
}

// Leaves the child at |nice| as an unprivileged user with the default nice limit.
void dropPrivilege(int nice) {
  if (setpriority(PRIO_PROCESS, 0, nice) != 0) {
    _exit(3);
  }
  if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
    _exit(3);
  }
}

TEST(RealtimePosixTest, PrivilegedRunIsRaisedAndPinned) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root (or CAP_SYS_NICE)";
  }
  ChildResult run = runSetup([] {});
  EXPECT_EQ(run.output, "pinned=1 raised=1 group-kept=1\n");
  EXPECT_EQ(run.status, 0);
}

TEST(RealtimePosixTest, UnprivilegedRunFailsItsCheck) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to drop to an unprivileged user";
  }
  // Default limit: neither nice value can be had; the class check fails first.
  ChildResult none = runSetup([] { dropPrivilege(0); });
  EXPECT_EQ(none.output, "ERRORPriority class is not 0x80. Aborting.\n");
  EXPECT_EQ(none.status, 255);

  // Already at nice -15 but unable to reach -20: the class passes, the thread check fails.
  ChildResult partial = runSetup([] { dropPrivilege(-15); });
  EXPECT_EQ(partial.output, "ERRORThread priority is not 0x0F. Aborting.\n");
  EXPECT_EQ(partial.status, 255);
}

}  // namespace
