// The Linux scheduling set-up on this machine, in child processes so that the test runner keeps
// its own priority and CPUs.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "host/realtime.h"

namespace {

constexpr uid_t kNobody = 65534;

// What a child printed and how it ended.
struct ChildRun {
  std::string output;
  int status = -1;
};

// Runs the set-up in a child after |prepare|; the child ends 0 when it succeeded and ended
// at nice -20 on exactly one CPU, 255 when it failed (as the tool's entry point does).
template <typename Prepare>
ChildRun runChild(Prepare prepare) {
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    dup2(out[1], STDOUT_FILENO);
    prepare();
    std::unique_ptr<SchedulingPlatform> platform = makeSystemScheduling();
    if (!setupRealtime(*platform)) {
      _exit(255);
    }
    cpu_set_t set;
    sched_getaffinity(0, sizeof(set), &set);
    bool pinned = CPU_COUNT(&set) == 1;
    bool raised = getpriority(PRIO_PROCESS, 0) == -20;
    std::printf("pinned=%d raised=%d\n", pinned, raised);
    std::fflush(stdout);
    _exit(0);
  }
  close(out[1]);
  ChildRun run;
  char buffer[256];
  ssize_t got;
  while ((got = read(out[0], buffer, sizeof(buffer))) > 0) {
    run.output.append(buffer, static_cast<size_t>(got));
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
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
  ChildRun run = runChild([] {});
  EXPECT_EQ(run.output, "pinned=1 raised=1\n");
  EXPECT_EQ(run.status, 0);
}

TEST(RealtimePosixTest, UnprivilegedRunFailsItsCheck) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to drop to an unprivileged user";
  }
  // Default limit: neither nice value can be had; the class check fails first.
  ChildRun none = runChild([] { dropPrivilege(0); });
  EXPECT_EQ(none.output, "ERRORPriority class is not 0x80. Aborting.\n");
  EXPECT_EQ(none.status, 255);

  // Already at nice -15 but unable to reach -20: the class passes, the thread check fails.
  ChildRun partial = runChild([] { dropPrivilege(-15); });
  EXPECT_EQ(partial.output, "ERRORThread priority is not 0x0F. Aborting.\n");
  EXPECT_EQ(partial.status, 255);
}

}  // namespace
