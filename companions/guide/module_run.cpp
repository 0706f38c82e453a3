#include "module_run.h"

#include <cstdlib>

#include "subprocess.h"
#include "tool_access.h"
#include "tool_locator.h"

namespace {

// How often the outputs hear that time passes while the tool says nothing.
constexpr int kTickMs = 100;
// How long an interrupted tool is given to end before it is ended.
constexpr double kInterruptGrace = 5.0;

#ifdef _WIN32
constexpr const char kSimFileName[] = "nodletflash-sim.exe";
constexpr char kDirectorySeparator = '\\';
#else
constexpr const char kSimFileName[] = "nodletflash-sim";
constexpr char kDirectorySeparator = '/';
#endif

std::string directoryOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The virtual hand: --sim; next to this program; in sim/ beside it, as in the build tree;
// then on PATH.
std::string locateSim(const std::string& simOption) {
  if (!simOption.empty()) {
    return simOption;
  }
  std::string here = directoryOf(thisProgramPath());
  if (!here.empty()) {
    for (const std::string& candidate :
         {here + kSimFileName, here + "sim" + kDirectorySeparator + kSimFileName}) {
      if (isRunnableFile(candidate)) {
        return candidate;
      }
    }
  }
  const char* path = std::getenv("PATH");
  return findOnSearchPath(kSimFileName, path != nullptr ? path : "");
}

// Follows the tool's messages to tell how far its run got.
Stage advance(Stage stage, const ToolMessage& message) {
  switch (message.kind) {
    case MessageKind::kInstruction:
      if (message.milestone == Milestone::kPowerCycleAsked) {
        return Stage::kPowerCycle;
      }
      break;
    case MessageKind::kNarration:
      if (message.milestone == Milestone::kDownloadStarting) {
        return Stage::kDownload;
      }
      if (message.milestone == Milestone::kDownloadComplete) {
        return Stage::kClosing;
      }
      if (stage == Stage::kChecks) {
        return Stage::kStarting;
      }
      break;
    case MessageKind::kClosing:
      return Stage::kEnded;
    default:
      break;
  }
  return stage == Stage::kChecks ? Stage::kStarting : stage;
}

// Cuts the tool's standard error into lines.
struct ErrorLines {
  std::string pending;

  void feed(const std::string& bytes, std::vector<std::string>* lines) {
    pending += bytes;
    size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, newline);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      lines->push_back(line);
      pending.erase(0, newline + 1);
    }
  }
};

}  // namespace

bool commandFor(const ModuleInfo& module, const GuideSettings& settings,
                std::vector<std::string>* argv, std::string* reason) {
  argv->clear();
  if (settings.rehearse) {
    std::string sim = locateSim(settings.simPath);
    if (sim.empty()) {
      *reason = std::string("the virtual hand (") + kSimFileName +
                ") is neither next to this program nor on PATH; give it with --sim";
      return false;
    }
    argv->push_back(sim);
    if (!settings.simClock.empty()) {
      argv->push_back("--sim-clock=" + settings.simClock);
    }
    argv->push_back("--sim-scenario=" + settings.scenario);
  } else {
    ToolLocation tool = locateToolFromHere(settings.toolPath);
    if (tool.path.empty()) {
      // A tool this user may not start is told as such, with what to do about it.
      std::string notRunnable = inspectTool(settings.toolPath).why;
      *reason = !notRunnable.empty() ? notRunnable
                                     : std::string("the tool (") + toolFileName() +
                                           ") is neither next to this program nor on PATH; "
                                           "give it with --tool";
      return false;
    }
    argv->push_back(tool.path);
  }
  argv->push_back(module.nodeText);
  argv->push_back(module.path);
  return true;
}

ModuleOutcome runModule(const ModuleInfo& module, const GuideSettings& settings,
                        const GuideClock& clock, const std::vector<RunObserver*>& observers) {
  ModuleOutcome outcome;
  double began = clock.now();
  for (RunObserver* observer : observers) {
    observer->moduleBegins(module, began);
  }
  const auto end = [&](Result result) {
    outcome.result = result;
    outcome.seconds = clock.now() - began;
    for (RunObserver* observer : observers) {
      observer->moduleEnds(module, outcome, clock.now());
    }
    return outcome;
  };

  PreflightOptions options;
  options.nodeText = module.nodeText;
  options.path = module.path;
  // A rehearsal uses no adapter: this computer's set-up does not matter to it.
  options.imageOnly = settings.rehearse;
  options.listenMs = settings.listenMs;
  options.toolPath = settings.toolPath;
  options.selfPath = thisProgramPath();
  PreflightResult checks = runPreflight(options);
  bool refused = hasProblem(checks) && !settings.force;
  for (RunObserver* observer : observers) {
    observer->checked(module, checks, refused, clock.now());
  }
  if (wasInterrupted()) {
    return end(Result::kInterrupted);
  }
  if (refused) {
    return end(Result::kRefused);
  }

  std::vector<std::string> argv;
  if (!commandFor(module, settings, &argv, &outcome.reason)) {
    return end(Result::kNotStarted);
  }
  Subprocess child;
  std::string error;
  if (!child.start(argv, &error)) {
    std::string notRunnable = settings.rehearse ? "" : inspectTool(argv[0]).why;
    outcome.reason = !notRunnable.empty() ? notRunnable : argv[0] + ": " + error;
    return end(Result::kNotStarted);
  }
  outcome.stage = Stage::kStarting;
  for (RunObserver* observer : observers) {
    observer->toolStarted(module, argv, clock.now());
  }

  DownloadProgress progress(
      checks.haveSummary ? checks.summary.lineCount : 0,
      checks.haveSummary ? checks.summary.payloadBefore : std::vector<int64_t>());
  ToolMessageReader reader;
  ErrorLines errorLines;
  bool interrupted = false;
  double interruptedAt = 0;
  bool killed = false;
  bool haveProgress = false;
  ProgressFigures figures;
  std::vector<ToolMessage> messages;
  std::vector<std::string> lines;

  const auto deliver = [&]() {
    for (const ToolMessage& message : messages) {
      outcome.stage = advance(outcome.stage, message);
      const ProgressFigures* shown = nullptr;
      if (message.kind == MessageKind::kProgress) {
        figures = progress.report(message.percent, message.seconds);
        haveProgress = true;
        shown = &figures;
      } else if (message.milestone == Milestone::kDownloadComplete && haveProgress) {
        figures = progress.complete(message.seconds);
        shown = &figures;
      }
      for (RunObserver* observer : observers) {
        observer->message(module, message, shown);
      }
    }
    messages.clear();
  };

  for (;;) {
    ChildEvent event = child.wait(kTickMs);
    double now = clock.now();
    if (event.kind == ChildEvent::kClosed) {
      break;
    }
    if (event.kind == ChildEvent::kData) {
      if (event.stream == ChildStream::kOut) {
        reader.feed(event.bytes, now, &messages);
        deliver();
      } else {
        errorLines.feed(event.bytes, &lines);
        for (const std::string& line : lines) {
          for (RunObserver* observer : observers) {
            observer->toolError(module, line, now);
          }
        }
        lines.clear();
      }
    } else if (event.kind == ChildEvent::kInterrupted) {
      if (!interrupted) {
        interrupted = true;
        interruptedAt = now;
        for (RunObserver* observer : observers) {
          observer->interrupting(module, outcome.stage, now);
        }
        child.interrupt();
      } else if (!killed) {
        // Asked twice: the person does not want to wait.
        child.kill();
        killed = true;
      }
    } else {
      ProgressFigures current = progress.at(now);
      for (RunObserver* observer : observers) {
        observer->tick(module, outcome.stage, haveProgress ? &current : nullptr, now);
      }
    }
    if (interrupted && !killed && now - interruptedAt > kInterruptGrace) {
      child.kill();
      killed = true;
    }
  }
  reader.finish(clock.now(), &messages);
  deliver();
  if (!errorLines.pending.empty()) {
    for (RunObserver* observer : observers) {
      observer->toolError(module, errorLines.pending, clock.now());
    }
  }
  outcome.status = child.finish();
  outcome.haveStatus = true;
  if (interrupted) {
    return end(Result::kInterrupted);
  }
  return end(outcome.status == 0 ? Result::kDone : Result::kFailed);
}
