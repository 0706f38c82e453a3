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
#include "interruption.h"
#include "json_feed.h"
#include "line_printer.h"
#include "module_run.h"
#include "run_log.h"
#include "scenario.h"
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
  std::vector<std::string> words;  // the command line as typed, less the modules
};

// The guide's exit statuses: 0 when every module is done; the tool's own status when it
// failed; 1 when a module was refused or could not be started; 2 for a wrong command line;
// 130 when the person stopped the guide.
constexpr int kUsageStatus = 2;

// |word| as a POSIX shell reads it back: quoted when it holds anything but the plain
// characters of paths and options.
std::string shellWord(const std::string& word) {
  bool plain = !word.empty();
  for (char c : word) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              std::string("_-./=:,+@%").find(c) != std::string::npos;
    plain = plain && ok;
  }
  if (plain) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

// Two modules that name the same node: the first one found, or -1.
int namedTwice(const std::vector<ModuleInfo>& modules, size_t* first, size_t* second) {
  for (size_t i = 0; i < modules.size(); ++i) {
    for (size_t j = i + 1; j < modules.size(); ++j) {
      if (modules[i].node != 0 && modules[i].node == modules[j].node) {
        *first = i;
        *second = j;
        return modules[i].node;
      }
    }
  }
  return -1;
}

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
               std::string("practise with the virtual hand instead of the real one, in "
                           "SCENARIO (default: normal); the scenarios: ") +
                   scenarioNames() + " (N and K counts from 1)")
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
                 "one log file for every module, added to (default: a new "
                 "nodletflash-<node>-<UTC time>.log for each module, in the current directory)");
  app.add_flag("--no-log", options.noLog, "keep no log");
  app.add_flag("--force", options.settings.force,
               "start the tool even when the checks find a problem with this computer or the bus "
               "(never over a problem of the node number or the file)");
  app.add_option("--listen-ms", options.settings.listenMs,
                 "how long the checks listen to the bus, in milliseconds (0: not at all)")
      ->check(CLI::Range(0, 60000));
  app.add_flag("--window", options.window,
               "show the guided update as a page in this computer's browser; without modules, "
               "choose them there");
  app.add_flag("--no-browser", options.noBrowser,
               "with --window: only print the page's address, do not open a browser");
  CLI::Option* modules =
      app.add_option("modules", options.pairs,
                     "the modules: pairs of a node number (11 to 14) and a firmware file");
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
  if (options.window && options.json) {
    std::fprintf(stderr, "nodletflash-guide: --window and --json exclude each other\n");
    return kUsageStatus;
  }
  if (options.noBrowser && !options.window) {
    std::fprintf(stderr, "nodletflash-guide: --no-browser goes with --window\n");
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
  Scenario scenario;
  if (options.settings.rehearse && !parseScenario(options.settings.scenario, &scenario)) {
    std::fprintf(stderr, "nodletflash-guide: the virtual hand has no scenario \"%s\"; it has: %s\n",
                 options.settings.scenario.c_str(), scenarioNames());
    return kUsageStatus;
  }
  // The modules come last on the command line: what comes before them is repeated in the
  // command that flashes the modules not done.
  for (int i = 0; i + static_cast<int>(options.pairs.size()) < argc; ++i) {
    options.words.push_back(argv[i]);
  }
  return -1;
}

// The command that flashes |modules| not done: the guide's command line with only those.
std::string commandForRest(const GuideOptions& options, const std::vector<ModuleInfo>& modules,
                           const std::vector<ModuleOutcome>& outcomes) {
  std::string command;
  for (const std::string& word : options.words) {
    command += (command.empty() ? "" : " ") + shellWord(word);
  }
  for (size_t i = 0; i < modules.size(); ++i) {
    if (outcomes[i].result != Result::kDone) {
      command += " " + shellWord(modules[i].nodeText) + " " + shellWord(modules[i].path);
    }
  }
  return command;
}

int guide(int argc, char** argv) {
  GuideOptions options;
  int usage = parseCommandLine(argc, argv, &options);
  if (usage >= 0) {
    return usage;
  }
  std::vector<ModuleInfo> modules;
  for (size_t i = 0; i < options.pairs.size() / 2; ++i) {
    modules.push_back(moduleAt(options, i));
    if (options.settings.rehearse) {
      modules.back().rehearsal = options.settings.scenario;
    }
  }
  size_t first = 0;
  size_t second = 0;
  int twice = namedTwice(modules, &first, &second);
  if (twice > 0) {
    std::fprintf(stderr,
                 "nodletflash-guide: module %d is named twice (as \"%s\" and \"%s\"); name each "
                 "module once\n",
                 twice, modules[first].nodeText.c_str(), modules[second].nodeText.c_str());
    return kUsageStatus;
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
  TerminalView* terminal = nullptr;
  if (options.json) {
    view = std::make_unique<JsonFeed>(jsonLinesSink(stdout));
  } else {
    auto terminalView = std::make_unique<TerminalView>(
        &printer, options.settings.rehearse ? options.settings.scenario : std::string());
    terminal = terminalView.get();
    view = std::move(terminalView);
  }
  std::unique_ptr<RunLog> log;
  std::vector<RunObserver*> observers{view.get()};
  if (!options.noLog) {
    log = std::make_unique<RunLog>(options.logPath, wallStart);
    observers.push_back(log.get());
  }

  // Every module's node number and file first: a damaged file anywhere, and nothing is flashed.
  std::vector<PreflightResult> fileChecks;
  bool fileProblems = false;
  for (const ModuleInfo& module : modules) {
    fileChecks.push_back(checkNodeAndImage(module.nodeText, module.path));
    fileProblems = fileProblems || hasProblem(fileChecks.back());
  }

  std::vector<ModuleOutcome> outcomes(modules.size());
  int status = 0;
  if (fileProblems) {
    std::string damaged;
    for (size_t i = 0; i < modules.size(); ++i) {
      if (hasProblem(fileChecks[i])) {
        damaged += (damaged.empty() ? "" : ", ") + moduleLabel(modules[i]);
      }
    }
    for (size_t i = 0; i < modules.size(); ++i) {
      if (hasProblem(fileChecks[i])) {
        outcomes[i] = refuseModule(modules[i], fileChecks[i], clock, observers);
        continue;
      }
      for (RunObserver* observer : observers) {
        observer->moduleBegins(modules[i], clock.now());
        observer->checked(modules[i], fileChecks[i], false, clock.now());
      }
      outcomes[i].reason = "no module is flashed while the node number or file of another (" +
                           damaged + ") has problems";
      for (RunObserver* observer : observers) {
        observer->moduleEnds(modules[i], outcomes[i], clock.now());
      }
    }
    status = kRefusedStatus;
  }

  for (size_t i = 0; i < modules.size() && !fileProblems; ++i) {
    if (status != 0 || wasInterrupted()) {
      // The first failure stops the sequence: the rest are left as they are.
      outcomes[i].reason = "the sequence stopped at an earlier module";
      for (RunObserver* observer : observers) {
        observer->moduleEnds(modules[i], outcomes[i], clock.now());
      }
      continue;
    }
    if (log != nullptr) {
      std::string reason;
      if (!log->open(modules[i], clock.now(), &reason)) {
        // The log is the record of what reached the hand: no module starts without one
        // unless the person asked for none.
        outcomes[i].result = Result::kNotStarted;
        outcomes[i].reason = reason + "; give another --log, or --no-log to keep none";
        for (RunObserver* observer : observers) {
          observer->moduleBegins(modules[i], clock.now());
          observer->moduleEnds(modules[i], outcomes[i], clock.now());
        }
        status = kRefusedStatus;
        continue;
      }
      modules[i].logPath = log->path();
    }
    outcomes[i] = runModule(modules[i], fileChecks[i], options.settings, clock, observers);
    if (outcomes[i].result != Result::kDone) {
      status = guideExitStatus(outcomes[i]);
    }
  }
  if (terminal != nullptr) {
    terminal->setCommandForRest(commandForRest(options, modules, outcomes));
  }
  for (RunObserver* observer : observers) {
    observer->sequenceEnds(modules, outcomes, clock.now());
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
