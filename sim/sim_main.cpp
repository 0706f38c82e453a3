// nodletflash-sim: the tool's own run against the virtual hand.
//
//   nodletflash-sim [--sim-clock=real|virtual] [--sim-scenario=NAME] [--sim-report=FILE]
//                   [--sim-events-fd=N] [--sim-switch-fd=N] <nodletNumber> <filename>
//   nodletflash-sim --switch=off|on
//
// The --sim- options come first; the rest is the tool's command line, passed on unchanged.
// Standard output belongs to the tool; the simulation speaks only through the report file and
// the events it writes, as they happen, to an inherited descriptor. The report is written
// however the run ends: through exit(), or stopped by SIGTERM, SIGINT or SIGHUP, after which
// the process ends by that signal.
//
// With --sim-switch-fd the hand's power is switched by orders read from that descriptor (the
// guide's power commands) and the person never touches it; after the tool's run the process
// closes its output and follows the orders until the descriptor closes. --switch=off|on, run as
// a power command of a rehearsal, passes that order to the rehearsal's guide (outside_switch.h).
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/node_number.h"
#include "app/run_sequence.h"
#include "hand_rig.h"
#include "outside_switch.h"
#include "scenario.h"
#include "sim_clock.h"
#include "sim_port.h"
#include "sim_report.h"
#include "stop_signals.h"

namespace {

// The --sim- options.
struct SimOptions {
  bool realClock = true;
  Scenario scenario;
  std::string reportPath;
  int eventsFd = -1;  // where the hand's power and answers are told; -1: nowhere
  int switchFd = -1;  // where the orders to the power switch come from; -1: the person's hand
};

// Everything the simulated run is made of. It lives until the process ends, since the run ends
// through exit() and the report is written by an exit handler.
struct SimSession {
  SimOptions options;
  std::unique_ptr<SimClock> clock;
  std::unique_ptr<HandRig> rig;
  std::unique_ptr<SimPort> port;
  std::unique_ptr<SimSleeper> sleeper;
  std::unique_ptr<SimScheduling> scheduling;
  std::chrono::steady_clock::time_point wallStart;
  std::FILE* events = nullptr;
  std::unique_ptr<OrderReader> orders;
  bool reportWritten = false;
};

SimSession* g_session = nullptr;

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// A descriptor number given as |digits|: not standard input, output or error, which are the
// tool's; -1 when it is none.
int descriptorNumber(const char* digits) {
  char* end = nullptr;
  long fd = std::strtol(digits, &end, 10);
  if (end == digits || *end != '\0' || fd < 3 || fd > 65535) {
    return -1;
  }
  return static_cast<int>(fd);
}

// Reads the leading --sim- options; returns the index of the first other word, or 0 when an
// option is malformed.
int parseSimOptions(int argc, char** argv, SimOptions* options) {
  parseScenario("normal", &options->scenario);
  int i = 1;
  for (; i < argc && startsWith(argv[i], "--sim-"); ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--sim-clock=real") == 0) {
      options->realClock = true;
    } else if (std::strcmp(arg, "--sim-clock=virtual") == 0) {
      options->realClock = false;
    } else if (startsWith(arg, "--sim-scenario=")) {
      if (!parseScenario(arg + std::strlen("--sim-scenario="), &options->scenario)) {
        return 0;
      }
    } else if (startsWith(arg, "--sim-events-fd=")) {
      options->eventsFd = descriptorNumber(arg + std::strlen("--sim-events-fd="));
      if (options->eventsFd < 0) {
        return 0;
      }
    } else if (startsWith(arg, "--sim-switch-fd=")) {
      options->switchFd = descriptorNumber(arg + std::strlen("--sim-switch-fd="));
      if (options->switchFd < 0) {
        return 0;
      }
    } else if (startsWith(arg, "--sim-report=") && arg[std::strlen("--sim-report=")] != '\0') {
      options->reportPath = arg + std::strlen("--sim-report=");
    } else {
      return 0;
    }
  }
  return i;
}

void writeReport() {
  SimSession& s = *g_session;
  if (s.options.reportPath.empty() || s.reportWritten) {
    return;
  }
  s.reportWritten = true;
  s.rig->catchUp();
  ReportContext context;
  context.scenario = s.options.scenario.name;
  context.clock = s.options.realClock ? "real" : "virtual";
  context.affinityMask = s.scheduling->affinity();
  context.wallTime = static_cast<SimTime>(std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now() - s.wallStart)
                                              .count());
  std::FILE* out = std::fopen(s.options.reportPath.c_str(), "w");
  if (out == nullptr) {
    std::fprintf(stderr, "nodletflash-sim: cannot write %s\n", s.options.reportPath.c_str());
    return;
  }
  writeRigReport(out, *s.rig, context);
  std::fclose(out);
}

// A stop signal is acted on between the tool's calls into the hand, where the rig is whole:
// the report, then the end the signal would have made.
void stopIfAsked() {
  int signal = caughtStopSignal();
  if (signal != 0) {
    writeReport();
    endBySignal(signal);
  }
}

// Closes the tool's standard output and error.
void closeStandardOutput() {
#ifdef _WIN32
  _close(1);
  _close(2);
#else
  close(1);
  close(2);
#endif
}

// After the tool's run: its output is closed, so that the guide hears the run end, and the hand
// follows the outside orders (the final power cycle) until they end.
void followFinalOrders() {
  SimSession& s = *g_session;
  if (!s.orders) {
    return;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  closeStandardOutput();
  s.rig->followOrdersToTheEnd();
}

}  // namespace

int main(int argc, char** argv) {
  prepareConsole();
  if (argc == 2 && startsWith(argv[1], "--switch=")) {
    return runSwitch(argv[1] + std::strlen("--switch="));
  }
  catchStopSignals();
  SimOptions options;
  int first = parseSimOptions(argc, argv, &options);
  if (first == 0) {
    std::fprintf(stderr,
                 "usage: %s [--sim-clock=real|virtual] [--sim-scenario=NAME] [--sim-report=FILE] "
                 "[--sim-events-fd=N] [--sim-switch-fd=N] <nodletNumber> <filename>\n"
                 "       %s --switch=off|on\nscenarios: %s\n",
                 argc > 0 ? argv[0] : "nodletflash-sim", argc > 0 ? argv[0] : "nodletflash-sim",
                 scenarioNames());
    return 2;
  }

  // The hand's node is the one the tool will address; any node will do when it addresses none.
  int node = 12;
  if (argc - first == 2) {
    int asked = 0;
    if (parseNodeNumber(argv[first], &asked)) {
      node = asked;
    }
  }

  g_session = new SimSession;  // owned by the process: see SimSession
  SimSession& s = *g_session;
  s.options = options;
  s.wallStart = std::chrono::steady_clock::now();
  if (options.realClock) {
    s.clock = std::make_unique<RealClock>();
  } else {
    s.clock = std::make_unique<VirtualClock>();
  }
  RigConfig config = rigConfigFor(options.scenario, node);
  if (options.eventsFd >= 0) {
    s.events = fdopen(options.eventsFd, "w");
    if (s.events == nullptr) {
      std::fprintf(stderr, "nodletflash-sim: cannot write events to descriptor %d: %s\n",
                   options.eventsFd, std::strerror(errno));
      return 2;
    }
    config.report = [](const char* what, SimTime at) {
      std::FILE* events = g_session->events;
      if (events != nullptr) {
        std::fprintf(events, "%.6f %s\n", static_cast<double>(at) / kSecond, what);
        std::fflush(events);
      }
    };
  }
  if (options.switchFd >= 0) {
    s.orders = std::make_unique<OrderReader>(options.switchFd, stopIfAsked);
    config.orders = [](bool wait) { return g_session->orders->next(wait); };
    config.holdForOrders = !options.realClock;
  }
  s.rig = std::make_unique<HandRig>(*s.clock, std::move(config));
  s.port = std::make_unique<SimPort>(*s.rig, stopIfAsked);
  s.sleeper = std::make_unique<SimSleeper>(*s.rig, stopIfAsked);
  s.scheduling = std::make_unique<SimScheduling>(options.scenario.scheduling);
  std::atexit(writeReport);
  std::atexit(followFinalOrders);

  std::vector<char*> toolArgs;
  toolArgs.push_back(argv[0]);
  for (int i = first; i < argc; ++i) {
    toolArgs.push_back(argv[i]);
  }
  toolArgs.push_back(nullptr);
  RunParts parts;
  parts.port = s.port.get();
  parts.sleeper = s.sleeper.get();
  parts.scheduling = s.scheduling.get();
  return runFlash(static_cast<int>(toolArgs.size()) - 1, toolArgs.data(), parts);
}
