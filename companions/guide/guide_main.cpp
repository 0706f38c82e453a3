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

#include "file_name.h"
#include "firmware_set.h"
#include "interruption.h"
#include "json_feed.h"
#include "line_printer.h"
#include "module_record.h"
#include "run_log.h"
#include "scenario.h"
#include "sequence.h"
#include "support_bundle.h"
#include "terminal_view.h"
#include "window_guide.h"

namespace {

// What the command line asks for besides the settings of each module's run.
struct GuideOptions {
  GuideSettings settings;
  bool json = false;
  bool window = false;
  bool noBrowser = false;
  LogChoice log;
  std::vector<std::string> pairs;
  std::vector<std::string> words;  // the command line as typed, less the modules
  std::string usageError;          // why the command line was refused
  std::string setPath;             // --set: the hand's firmware set, instead of modules
  std::string bundlePath;          // --support-bundle: written at the run's end
  bool bundleFirmware = false;     // --support-bundle-firmware
  std::string powerOff;            // --power-off, as typed
  std::string powerOn;             // --power-on, as typed
};

// The guide's exit statuses: 0 when every module is done; the tool's own status when it
// failed; 1 when a module was refused or could not be started; 2 for a wrong command line;
// 130 when the person stopped the guide.
constexpr int kUsageStatus = 2;

// Refuses the command line for |reason|, on standard error; the feed gives it too.
int refuseCommandLine(GuideOptions* options, const std::string& reason) {
  std::fprintf(stderr, "nodletflash-guide: %s\n", reason.c_str());
  options->usageError = reason;
  return kUsageStatus;
}

// Whether the command line asks for the feed, read word by word: a command line that cannot be
// read as a whole still gets its feed.
bool feedAsked(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--") {
      return false;
    }
    if (word == "--json") {
      return true;
    }
  }
  return false;
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
  app.add_option("--log", options.log.path,
                 "one log file for every module, added to (default: a new "
                 "nodletflash-<node>-<UTC time>.log for each module, in the current directory)");
  app.add_flag("--no-log", options.log.none, "keep no log");
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
  app.add_option("--set", options.setPath,
                 "flash the modules of a hand's firmware set (a TOML file naming each module's "
                 "file and its SHA-256), every entry verified first, instead of naming modules")
      ->option_text("FILE");
  app.add_option("--support-bundle", options.bundlePath,
                 "at the run's end, whatever the end, write FILE: a gzip-compressed tar archive "
                 "of what support needs (the log, the feed, the checks, the files' digests, the "
                 "versions, the interfaces' state)")
      ->option_text("FILE");
  app.add_flag("--support-bundle-firmware", options.bundleFirmware,
               "with --support-bundle: put the firmware files themselves in the bundle too");
  app.add_option("--power-off", options.powerOff,
                 "switch the hand off by running COMMAND (a program and its arguments, quoted "
                 "as in a shell, run without one) at each power cycle; with --power-on")
      ->option_text("COMMAND");
  app.add_option("--power-on", options.powerOn,
                 "switch the hand on by running COMMAND; with --power-off")
      ->option_text("COMMAND");
  app.add_option("--power-limit", options.settings.power.limitSeconds,
                 "how long each power command may run before it is ended, in seconds "
                 "(default: 15)")
      ->check(CLI::Range(1.0, 30.0));
  CLI::Option* modules =
      app.add_option("modules", options.pairs,
                     "the modules: pairs of a node number (11 to 14) and a firmware file");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app.exit(error);
    if (status == 0) {
      return 0;
    }
    options.usageError = error.what();
    return kUsageStatus;
  }
  options.settings.rehearse = app.count("--rehearse") > 0;
  if (!options.setPath.empty() && !options.pairs.empty()) {
    return refuseCommandLine(&options, "--set and modules on the command line exclude each other");
  }
  if (!options.setPath.empty() && options.window) {
    return refuseCommandLine(&options, "--set and --window exclude each other");
  }
  if (!options.bundlePath.empty() && options.window) {
    return refuseCommandLine(&options, "--support-bundle and --window exclude each other");
  }
  if (options.bundleFirmware && options.bundlePath.empty()) {
    return refuseCommandLine(&options, "--support-bundle-firmware goes with --support-bundle");
  }
  if (options.pairs.empty() && !options.window && options.setPath.empty()) {
    std::fprintf(stderr, "%s is required\nRun with --help for more information.\n",
                 modules->get_name().c_str());
    options.usageError = modules->get_name() + " is required";
    return kUsageStatus;
  }
  if (options.window && options.json) {
    return refuseCommandLine(&options, "--window and --json exclude each other");
  }
  if (options.noBrowser && !options.window) {
    return refuseCommandLine(&options, "--no-browser goes with --window");
  }
  if (options.pairs.size() % 2 != 0) {
    return refuseCommandLine(&options, "give each module as a node number and a firmware file");
  }
  if (!options.settings.rehearse && (app.count("--sim") > 0 || app.count("--sim-clock") > 0)) {
    return refuseCommandLine(&options, "--sim and --sim-clock go with --rehearse");
  }
  if (options.log.none && app.count("--log") > 0) {
    return refuseCommandLine(&options, "--log and --no-log exclude each other");
  }
  bool powerOff = app.count("--power-off") > 0;
  bool powerOn = app.count("--power-on") > 0;
  if (powerOff != powerOn) {
    return refuseCommandLine(&options, "--power-off and --power-on go together");
  }
  if (app.count("--power-limit") > 0 && !powerOff) {
    return refuseCommandLine(&options, "--power-limit goes with --power-off and --power-on");
  }
  if (powerOff) {
    PowerCommands& power = options.settings.power;
    std::string problem;
    if (!splitCommand(options.powerOff, &power.off, &problem)) {
      return refuseCommandLine(&options, "--power-off cannot be read: " + problem);
    }
    if (!splitCommand(options.powerOn, &power.on, &problem)) {
      return refuseCommandLine(&options, "--power-on cannot be read: " + problem);
    }
    power.offText = options.powerOff;
    power.onText = options.powerOn;
  }
  Scenario scenario;
  if (options.settings.rehearse && !parseScenario(options.settings.scenario, &scenario)) {
    return refuseCommandLine(&options, "the virtual hand has no scenario \"" +
                                           options.settings.scenario +
                                           "\"; it has: " + scenarioNames());
  }
  // The modules come last on the command line: what comes before them is repeated in the
  // command that flashes the modules not done.
  // With --set, the modules not done are named on it instead of the set.
  for (int i = 0; i + static_cast<int>(options.pairs.size()) < argc; ++i) {
    std::string word = argv[i];
    if (!options.setPath.empty() && word == "--set") {
      ++i;
    } else if (options.setPath.empty() || word.rfind("--set=", 0) != 0) {
      options.words.push_back(word);
    }
  }
  return -1;
}

// What the feed's first event tells of this run.
FeedRun feedRun(int argc, char** argv, const GuideOptions& options,
                std::chrono::system_clock::time_point started) {
  FeedRun run;
  run.started = started;
  for (int i = 1; i < argc; ++i) {
    run.arguments.push_back(argv[i]);
  }
  run.settings = options.settings;
  run.log = options.log;
  run.setFile = options.setPath;
  return run;
}

// Where the feed's events go: standard output when --json asks for them, and into |kept| for
// the support bundle when one is asked for.
FeedSink feedSink(bool toStandardOutput, std::string* kept) {
  FeedSink out = toStandardOutput ? jsonLinesSink(stdout) : FeedSink();
  return [out, kept](const nlohmann::ordered_json& event) {
    if (out) {
      out(event);
    }
    if (kept != nullptr) {
      *kept += event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
      *kept += '\n';
    }
  };
}

// Writes the support bundle when one was asked for; a bundle that cannot be written is said on
// standard error and leaves the exit status as the run made it.
void writeBundle(int argc, char** argv, const GuideOptions& options, int status,
                 const std::string& feed, const std::vector<ModuleInfo>& modules) {
  if (options.bundlePath.empty()) {
    return;
  }
  BundleContents contents;
  contents.path = options.bundlePath;
  contents.firmware = options.bundleFirmware;
  contents.status = status;
  contents.settings = options.settings;
  contents.selfPath = argc > 0 ? argv[0] : "";
  contents.feed = feed;
  contents.modules = modules;
  contents.setFile = options.setPath;
  contents.ended = std::chrono::system_clock::now();
  std::string why;
  if (!writeSupportBundle(contents, &why)) {
    std::fprintf(stderr, "nodletflash-guide: the support bundle could not be written: %s\n",
                 why.c_str());
  }
}

// A command line or a firmware set refused: when the feed was asked for, it still begins and
// ends, with the reason; a support bundle asked for is still written.
int refused(int argc, char** argv, const GuideOptions& options, int status,
            std::chrono::system_clock::time_point started, const FirmwareSet* set = nullptr,
            const std::vector<std::string>& setProblems = {}) {
  bool json = feedAsked(argc, argv);
  if (!json && options.bundlePath.empty()) {
    return status;
  }
  std::string kept;
  JsonFeed feed(feedSink(json, options.bundlePath.empty() ? nullptr : &kept));
  FeedRun run = feedRun(argc, argv, options, started);
  run.setName = set != nullptr ? set->name : std::string();
  feed.runBegins(run, 0);
  FeedRunEnd end;
  end.status = status;
  end.usageError = options.usageError;
  end.setProblems = setProblems;
  feed.runEnds(end, 0);
  writeBundle(argc, argv, options, status, kept, {});
  return status;
}

int guide(int argc, char** argv) {
  auto wallStart = std::chrono::system_clock::now();
  GuideClock clock;
  GuideOptions options;
  int usage = parseCommandLine(argc, argv, &options);
  if (usage == 0) {
    return 0;  // --help
  }
  if (usage > 0) {
    return refused(argc, argv, options, usage, wallStart);
  }
  std::vector<ModuleInfo> modules;
  for (size_t i = 0; i + 1 < options.pairs.size(); i += 2) {
    modules.push_back(namedModule(options.pairs[i], options.pairs[i + 1]));
  }
  // A hand's firmware set: every entry verified before anything is shown, logged or started.
  FirmwareSet set;
  if (!options.setPath.empty()) {
    std::vector<std::string> problems;
    SetReading reading = readFirmwareSet(options.setPath, &set, &problems);
    if (reading != SetReading::kVerified) {
      for (const std::string& problem : problems) {
        std::fprintf(stderr, "nodletflash-guide: %s\n", problem.c_str());
      }
      if (reading == SetReading::kRefused) {
        std::fprintf(stderr, "nodletflash-guide: the set is refused whole: nothing was flashed\n");
      }
      return refused(argc, argv, options, setReadingStatus(reading), wallStart, &set, problems);
    }
    for (const SetEntry& entry : set.entries) {
      modules.push_back(namedModule(entry.nodeText, entry.path));
      modules.back().set = set.name;
      modules.back().setSha256 = entry.sha256;
    }
  }
  size_t first = 0;
  size_t second = 0;
  if (namedTwice(modules, &first, &second)) {
    int status = refuseCommandLine(
        &options, "module " + std::to_string(modules[first].node) + " is named twice (as \"" +
                      escapedText(modules[first].nodeText) + "\" and \"" +
                      escapedText(modules[second].nodeText) + "\"); name each module once");
    return refused(argc, argv, options, status, wallStart);
  }
  // The tool echoes the file's name into its messages as it stands: a name that could pass for
  // a message of its own is refused before anything is shown, logged or started.
  for (const ModuleInfo& module : modules) {
    std::string problem = fileNameProblem(module.path);
    if (!problem.empty()) {
      return refused(argc, argv, options, refuseCommandLine(&options, problem), wallStart);
    }
  }

  // The power commands are the command line's alone: the window's page never names a program.
  if (options.window && options.settings.power.given()) {
    return refused(argc, argv, options,
                   refuseCommandLine(&options, "--power-off and --power-on are not for --window"),
                   wallStart);
  }
  if (options.window) {
    return runWindow(options.settings, options.log, std::move(modules), !options.noBrowser);
  }

  catchInterruptions();

  const char* noColour = std::getenv("NO_COLOR");
  LinePrinter printer(stdout, noColour != nullptr && noColour[0] != '\0');
  std::unique_ptr<RunObserver> view;
  JsonFeed* feed = nullptr;
  TerminalView* terminal = nullptr;
  // The feed's events, kept for the support bundle.
  std::string kept;
  std::unique_ptr<JsonFeed> keptFeed;
  if (options.json) {
    auto json =
        std::make_unique<JsonFeed>(feedSink(true, options.bundlePath.empty() ? nullptr : &kept));
    feed = json.get();
    view = std::move(json);
  } else {
    auto shown = std::make_unique<TerminalView>(
        &printer, options.settings.rehearse ? options.settings.scenario : std::string());
    shown->setCommandLine(options.words);
    shown->setGuideSwitches(options.settings.power.given());
    terminal = shown.get();
    view = std::move(shown);
  }
  if (!options.json && !options.bundlePath.empty()) {
    keptFeed = std::make_unique<JsonFeed>(feedSink(false, &kept));
    feed = keptFeed.get();
  }
  RunObservers observers;
  observers.add(view.get());
  if (keptFeed != nullptr) {
    observers.add(keptFeed.get());
  }
  std::unique_ptr<RunLog> log;
  if (!options.log.none) {
    log = std::make_unique<RunLog>(options.log.path, wallStart);
    observers.add(log.get());
  }
  // A rehearsal keeps a record of its own: the virtual hand's modules are not the real ones.
  ModuleRecordFile records = thisUsersModuleRecord(options.settings.rehearse);
  Sequence sequence(std::move(modules), options.settings, &clock, &observers, log.get(), &records);
  // The feed says it in its first event.
  if (terminal != nullptr) {
    if (!set.name.empty()) {
      std::printf("Firmware set \"%s\" (%s): %zu %s, each file's SHA-256 as the set gives it.\n",
                  escapedText(set.name).c_str(), escapedText(options.setPath).c_str(),
                  set.entries.size(), set.entries.size() == 1 ? "module" : "modules");
    }
    terminal->showRecords(sequence.modules(), sequence.recordWarning());
  }
  if (feed != nullptr) {
    FeedRun run = feedRun(argc, argv, options, wallStart);
    run.understood = true;
    run.modules = sequence.modules();
    run.recordWarning = sequence.recordWarning();
    run.setName = set.name;
    feed->runBegins(run, clock.now());
  }
  int status = sequence.run(0);
  if (feed != nullptr) {
    FeedRunEnd end;
    end.status = status;
    end.commandLine = options.words;
    end.modules = sequence.modules();
    end.outcomes = sequence.outcomes();
    feed->runEnds(end, clock.now());
  }
  writeBundle(argc, argv, options, status, kept, sequence.modules());
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
