// nodletflash-guide: a guided firmware update of one or more modules of the hand, for people,
// with a JSON feed for supervising programs.
//
//   nodletflash-guide [options] <nodletNumber> <filename> [<nodletNumber> <filename> ...]
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/node_number.h"
#include "download/node_frames.h"
#include "json_feed.h"
#include "line_printer.h"
#include "module_run.h"
#include "run_log.h"
#include "subprocess.h"
#include "terminal_view.h"
#include "window_guide.h"

namespace {

// What the command line asks for besides the settings of each module's run.
struct GuideOptions {
  GuideSettings settings;
  bool json = false;
  bool window = false;
  bool noBrowser = false;
  std::string logPath;
  bool noLog = false;
  std::vector<std::string> pairs;
};

// The exit status of a module that did not end with one of the tool's own.
constexpr int kRefusedStatus = 1;
constexpr int kInterruptedStatus = 130;

int statusOf(const ModuleOutcome& outcome) {
  if (outcome.haveStatus && outcome.status != 0) {
    return outcome.status;
  }
  return outcome.result == Result::kInterrupted ? kInterruptedStatus : kRefusedStatus;
}

constexpr int kUsageStatus = 2;

ModuleInfo moduleAt(const GuideOptions& options, size_t index) {
  ModuleInfo module;
  module.index = static_cast<int>(index);
  module.count = static_cast<int>(options.pairs.size() / 2);
  module.nodeText = options.pairs[2 * index];
  module.path = options.pairs[2 * index + 1];
  if (parseNodeNumber(module.nodeText.c_str(), &module.node)) {
    module.name = nodletName(module.node);
  } else {
    module.node = 0;
  }
  return module;
}

// Reads the command line into |options|; returns -1 to go on, else the status to exit with.
int parseCommandLine(int argc, char** argv, GuideOptions* out) {
  GuideOptions& options = *out;
  CLI::App app{
      "Flashes firmware into modules of the hand, one after another, guiding the person "
      "through each power cycle: the checks first, then nodletflash for each module.",
      "nodletflash-guide"};
  app.positionals_at_end();
  app.add_option("--tool", options.settings.toolPath,
                 "the nodletflash program (default: next to this program, then PATH)");
  app.add_flag("--rehearse{normal}", options.settings.scenario,
               "practise with the virtual hand instead of the real one; SCENARIO as "
               "nodletflash-sim --sim-scenario takes it (default: normal)")
      ->option_text("[=SCENARIO]");
  app.add_option("--sim", options.settings.simPath,
                 "the virtual hand, nodletflash-sim (default: next to this program, in sim/ "
                 "beside it, then PATH)");
  app.add_option("--sim-clock", options.settings.simClock,
                 "the virtual hand's clock: real (default) or virtual, on which a whole run "
                 "takes well under a second")
      ->check(CLI::IsMember({"real", "virtual"}));
  app.add_flag("--json", options.json,
               "write one JSON object per event on standard output, for programs");
  app.add_option("--log", options.logPath,
                 "the log file (default: nodletflash-<node>-<UTC time>.log for each module, in "
                 "the current directory)");
  app.add_flag("--no-log", options.noLog, "keep no log");
  app.add_flag("--force", options.settings.force,
               "start the tool even when the checks find a problem");
  app.add_option("--listen-ms", options.settings.listenMs,
                 "how long the checks listen to the bus, in milliseconds (0: not at all)")
      ->check(CLI::Range(0, 60000));
  app.add_flag("--window", options.window,
               "show the guided update as a page in this computer's browser; without modules, "
               "choose them there");
  app.add_flag("--no-browser", options.noBrowser,
               "with --window: only print the page's address, do not open a browser");
  CLI::Option* modules = app.add_option(
      "modules", options.pairs, "the modules: pairs of a node number (11 to 14) and a firmware file");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app.exit(error);
    return status == 0 ? 0 : kUsageStatus;
  }
  options.settings.rehearse = app.count("--rehearse") > 0;
  if (options.pairs.empty() && !options.window) {
    std::fprintf(stderr, "%s is required\nRun with --help for more information.\n",
                 modules->get_name().c_str());
    return kUsageStatus;
  }
  if ((options.window && options.json) || (options.noBrowser && !options.window)) {
    std::fprintf(stderr, "nodletflash-guide: --no-browser goes with --window, which excludes --json\n");
    return kUsageStatus;
  }
  if (options.pairs.size() % 2 != 0) {
    std::fprintf(stderr,
                 "nodletflash-guide: give each module as a node number and a firmware file\n");
    return kUsageStatus;
  }
  if (!options.settings.rehearse && (app.count("--sim") > 0 || app.count("--sim-clock") > 0)) {
    std::fprintf(stderr, "nodletflash-guide: --sim and --sim-clock go with --rehearse\n");
    return kUsageStatus;
  }
  if (options.noLog && app.count("--log") > 0) {
    std::fprintf(stderr, "nodletflash-guide: --log and --no-log exclude each other\n");
    return kUsageStatus;
  }
  return -1;
}

int guide(int argc, char** argv) {
  GuideOptions options;
  int usage = parseCommandLine(argc, argv, &options);
  if (usage >= 0) {
    return usage;
  }

  if (options.window) {
    return runWindow(WindowOptions{options.settings, options.logPath, options.noLog,
                                   !options.noBrowser, options.pairs});
  }

  catchInterruptions();
  GuideClock clock;
  auto wallStart = std::chrono::system_clock::now();

  const char* noColour = std::getenv("NO_COLOR");
  LinePrinter printer(stdout, noColour != nullptr && noColour[0] != '\0');
  std::unique_ptr<RunObserver> view;
  if (options.json) {
    view = std::make_unique<JsonFeed>(jsonLinesSink(stdout));
  } else {
    view = std::make_unique<TerminalView>(
        &printer, options.settings.rehearse ? options.settings.scenario : std::string());
  }
  std::unique_ptr<RunLog> log;
  std::vector<RunObserver*> observers{view.get()};
  if (!options.noLog) {
    log = std::make_unique<RunLog>(options.logPath, wallStart);
    observers.push_back(log.get());
  }

  std::vector<ModuleInfo> modules;
  for (size_t i = 0; i < options.pairs.size() / 2; ++i) {
    modules.push_back(moduleAt(options, i));
  }
  std::vector<ModuleOutcome> outcomes(modules.size());
  int status = 0;
  for (size_t i = 0; i < modules.size(); ++i) {
    if (status != 0 || wasInterrupted()) {
      // The first failure stops the sequence: the rest are left as they are.
      for (RunObserver* observer : observers) {
        observer->moduleEnds(modules[i], outcomes[i], clock.now());
      }
      continue;
    }
    outcomes[i] = runModule(modules[i], options.settings, clock, observers);
    if (outcomes[i].result != Result::kDone) {
      status = statusOf(outcomes[i]);
    }
  }
  for (RunObserver* observer : observers) {
    observer->sequenceEnds(modules, outcomes, clock.now());
  }
  if (log != nullptr && !log->failedPath().empty()) {
    std::fprintf(stderr, "nodletflash-guide: could not write the log %s\n",
                 log->failedPath().c_str());
  }
  interruptionHandled();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // An exception (out of memory) ends the guide, and a running tool with it: its Subprocess
  // ends it.
  try {
    return guide(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "nodletflash-guide: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "nodletflash-guide: unexpected failure\n");
  }
  return 1;
}
