// The interface control and its restore, tried on the loopback interface of a network namespace
// of the test's own, so that nothing outside the test changes. Needs CAP_SYS_ADMIN to make the
// namespace; skipped without it.
#include "can/interface_restore_linux.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "can/can_link_linux.h"
#include "child_process.h"

namespace {

constexpr int kNoNamespace = 77;

bool loopbackUp(CanLink& link) {
  CanInterfaceState state;
  return link.read("lo", &state) && state.up;
}

// Runs |body| in a child of its own network namespace, whose loopback interface starts down;
// |body| returns 0 when every check held and prints what failed.
void inNamespace(const std::function<int(CanLink&)>& body) {
  ChildResult result = runInChild([&body]() {
    if (unshare(CLONE_NEWNET) != 0) {
      return kNoNamespace;
    }
    CanLink link;
    return body(link);
  });
  if (result.status == kNoNamespace) {
    GTEST_SKIP() << "no network namespace for this test (needs CAP_SYS_ADMIN)";
  }
  EXPECT_EQ(result.status, 0) << result.output;
}

// Runs |ending| in a grandchild that shares the namespace; returns its wait status.
int endInGrandchild(const std::function<void()>& ending) {
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    rlimit noCore{};  // the signals that dump core by default need not leave one here
    setrlimit(RLIMIT_CORE, &noCore);
    ending();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// The restore of an interface found up (or down) by a run that did not set its bit rate.
CanRestorePlan foundUp(bool up) {
  CanRestorePlan plan;
  plan.up = up;
  return plan;
}

int fail(const char* what) {
  std::printf("%s\n", what);
  return 1;
}

TEST(CanLink, ReadsAndChangesAnInterface) {
  inNamespace([](CanLink& link) {
    CanInterfaceState state;
    state.bitRate = 7;
    if (!link.read("lo", &state) || state.up || state.controller || state.bitRate != 0) {
      return fail("the fresh loopback does not read as a down interface without a bit rate");
    }
    if (link.read("can9", &state)) {
      return fail("a missing interface reads");
    }
    if (!link.setUp("lo", true) || !loopbackUp(link)) {
      return fail("the loopback does not come up");
    }
    if (link.setBitRate("lo", 1000000)) {
      return fail("a bit rate is set on an interface that is no CAN controller");
    }
    if (!link.setUp("lo", false) || loopbackUp(link)) {
      return fail("the loopback does not go down");
    }
    return 0;
  });
}

TEST(InterfaceRestore, ExitPutsTheInterfaceBackAsFound) {
  inNamespace([](CanLink& link) {
    // Found up, left down by the run: up again after exit.
    link.setUp("lo", true);
    endInGrandchild([] {
      restoreInterfaceAtEnd("lo", foundUp(true));
      CanLink own;
      own.setUp("lo", false);
      std::exit(1);
    });
    if (!loopbackUp(link)) {
      return fail("an interface found up is down after exit");
    }
    // Found down, brought up by the run: down again after exit.
    link.setUp("lo", false);
    endInGrandchild([] {
      restoreInterfaceAtEnd("lo", foundUp(false));
      CanLink own;
      own.setUp("lo", true);
      std::exit(255);
    });
    if (loopbackUp(link)) {
      return fail("an interface found down is up after exit");
    }
    return 0;
  });
}

TEST(InterfaceRestore, EndingSignalsPutTheInterfaceBackAndStillEndTheProcess) {
  inNamespace([](CanLink& link) {
    // Every signal whose default action ends the process, a real-time one among them.
    for (int signal :
         {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
          SIGXFSZ, SIGPIPE, SIGABRT, SIGSEGV, SIGIO, SIGPWR, SIGSYS, SIGRTMIN, SIGRTMAX}) {
      link.setUp("lo", true);
      int status = endInGrandchild([signal] {
        restoreInterfaceAtEnd("lo", foundUp(true));
        CanLink own;
        own.setUp("lo", false);
        raise(signal);
      });
      // Those that dump core by default still do; only the way out is asked here.
      if (!WIFSIGNALED(status) || WTERMSIG(status) != signal) {
        std::printf("signal %d: the process did not end by it\n", signal);
        return 1;
      }
      if (!loopbackUp(link)) {
        std::printf("signal %d: an interface found up is down afterwards\n", signal);
        return 1;
      }
    }
    // A signal the process ignores stays ignored.
    link.setUp("lo", true);
    int status = endInGrandchild([] {
      std::signal(SIGHUP, SIG_IGN);
      restoreInterfaceAtEnd("lo", foundUp(true));
      raise(SIGHUP);
      _exit(3);
    });
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 3) {
      return fail("an ignored SIGHUP ended the process");
    }
    return 0;
  });
}

}  // namespace
