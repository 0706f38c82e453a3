#include "module_run.h"

#include <cstdint>
#include <cstdlib>
#include <thread>

#include "hand_channel.h"
#include "interruption.h"
#include "module_holds.h"
#include "power_driver.h"
#include "sha256.h"
#include "subprocess.h"
#include "tool_access.h"
#include "tool_locator.h"

namespace {

// How often the outputs hear that time passes while the tool says nothing.
constexpr int kTickMs = 100;
// How often, while a power command runs.
constexpr int kPowerTickMs = 20;

void sleepMilliseconds(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
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
      // The closing line ends the run where it stood.
      return stage == Stage::kChecks ? Stage::kStarting : stage;
    default:
      break;
  }
  return stage == Stage::kChecks ? Stage::kStarting : stage;
}

}  // namespace

bool commandFor(const ModuleInfo& module, const GuideSettings& settings,
                std::vector<std::string>* argv, std::string* reason) {
  argv->clear();
  if (settings.rehearse) {
    ToolLocation sim = locateVirtualHandFromHere(settings.simPath);
    if (sim.path.empty()) {
      *reason = std::string("the virtual hand (") + virtualHandFileName() +
                ") is neither next to this program nor on PATH; give it with --sim";
      return false;
    }
    argv->push_back(sim.path);
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

std::vector<std::string> problemsOf(const PreflightResult& checks) {
  std::vector<std::string> problems;
  for (const Finding& finding : checks.findings) {
    if (finding.severity == Severity::kProblem) {
      problems.push_back(finding.topic + ": " + finding.text);
    }
  }
  return problems;
}

bool checksRefuse(const PreflightResult& checks, bool force) {
  for (const Finding& finding : checks.findings) {
    bool aboutTheFile =
        finding.topic == "node" || finding.topic == "file" || finding.topic == "record";
    if (finding.severity == Severity::kProblem && (aboutTheFile || !force)) {
      return true;
    }
  }
  return false;
}

ModuleOutcome refuseModule(const ModuleInfo& module, const PreflightResult& fileChecks,
                           const GuideClock& clock, RunObserver* observer) {
  double began = clock.now();
  observer->moduleBegins(module, began);
  ModuleOutcome outcome;
  outcome.result = Result::kRefused;
  outcome.fileProblems = problemsOf(fileChecks);
  outcome.recordAfter = module.recordBefore;
  observer->checked(module, fileChecks, true, clock.now());
  outcome.seconds = clock.now() - began;
  observer->moduleEnds(module, outcome, clock.now());
  return outcome;
}

ModuleOutcome runModule(const ModuleInfo& module, const PreflightResult& fileChecks,
                        const GuideSettings& settings, const GuideClock& clock,
                        RunObserver* observer, ModuleRecords* records) {
  ModuleOutcome outcome;
  double began = clock.now();
  observer->moduleBegins(module, began);
  const auto end = [&](Result result) {
    outcome.result = result;
    outcome.recordAfter = recordAfterTurn(module, outcome, records, &outcome.recordWarning);
    outcome.seconds = clock.now() - began;
    observer->moduleEnds(module, outcome, clock.now());
    return outcome;
  };

  PreflightResult checks = fileChecks;
  // A rehearsal uses no adapter: this computer's set-up does not matter to it.
  if (!settings.rehearse) {
    PreflightOptions options;
    options.nodeText = module.nodeText;
    options.path = module.path;
    options.listenMs = settings.listenMs;
    options.toolPath = settings.toolPath;
    options.selfPath = thisProgramPath();
    checkComputer(options, &checks);
  }
  // The set's files were verified as the guide started; the earlier modules' turns took minutes,
  // in which a file may have been changed. Its digest again, as its own turn begins.
  if (!module.setSha256.empty()) {
    std::string error;
    std::string sha256 = sha256File(module.path, &error);
    if (sha256 != module.setSha256) {
      checks.findings.push_back({Severity::kProblem, "file",
                                 sha256.empty()
                                     ? "the set's file " + module.path + " cannot be read now (" +
                                           error + "): it was there when the set was verified"
                                     : "the set's file " + module.path +
                                           " has changed since the set was "
                                           "verified: its SHA-256 is now " +
                                           sha256 + ", not the set's " + module.setSha256});
    }
  }
  // --force overrides what was found about this computer and the bus, never a damaged file
  // (the sequence checks every module's file before any module's turn).
  std::vector<std::string> problems = problemsOf(checks);
  bool refused = checksRefuse(checks, settings.force);
  observer->checked(module, checks, refused, clock.now());
  if (wasInterrupted()) {
    return end(Result::kInterrupted);
  }
  if (refused) {
    return end(Result::kRefused);
  }
  outcome.overridden = problems;

  std::vector<std::string> argv;
  if (!commandFor(module, settings, &argv, &outcome.reason)) {
    return end(Result::kNotStarted);
  }
  const PowerCommands& power = settings.power;
  // A rehearsal's power commands reach its virtual hand through a switch of its own.
  SwitchRelay relay;
  if (power.given() && settings.rehearse && !relay.open(&outcome.reason)) {
    return end(Result::kNotStarted);
  }
  HandChannel hand;
  PowerCycleStep::Source source = hand.open(settings.rehearse, module.node, &argv, power.given());
  PowerCycleWatch watch(source);
  PowerDriver driver(power, source, settings.rehearse && settings.simClock == "virtual", &hand,
                     settings.rehearse ? &relay : nullptr, module, observer);
  bool finalAsked = false;
  bool closingSeen = false;  // the tool's closing line: its run is over
  bool finalHandled = false;
  // The file's identity for the record, taken as the tool is about to read the file.
  if (records != nullptr) {
    records->turnBegins(module);
  }
  Subprocess child;
  std::string error;
  bool started = child.start(argv, &error);
  hand.childStarted();
  if (!started) {
    std::string notRunnable = settings.rehearse ? "" : inspectTool(argv[0]).why;
    outcome.reason = !notRunnable.empty() ? notRunnable : argv[0] + ": " + error;
    return end(Result::kNotStarted);
  }
  outcome.stage = Stage::kStarting;
  observer->toolStarted(module, argv, clock.now());

  const ImageSummary& summary = checks.summary;
  DownloadProgress progress(checks.haveSummary ? summary.lineCount : 0,
                            checks.haveSummary ? summary.payloadBefore : std::vector<int64_t>());
  DownloadSeen seen;
  ToolMessageReader reader;
  LineSplitter errorSplitter;
  bool interrupted = false;
  double interruptedAt = 0;
  bool killed = false;
  bool haveProgress = false;
  ProgressFigures figures;
  std::vector<ToolMessage> messages;
  std::vector<SplitLine> lines;

  const auto tellPowerCycle = [&](double now) {
    for (const PowerCycleStep& step : watch.takeSteps()) {
      observer->powerCycle(module, step, now);
    }
  };
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
      if (message.kind == MessageKind::kClosing) {
        closingSeen = true;
      }
      if (message.kind == MessageKind::kError && !message.continuation) {
        outcome.toolGaveError = true;
      }
      noteDownload(&seen, message, shown, checks.haveSummary ? &summary : nullptr);
      observer->message(module, message, shown);
      if (message.milestone == Milestone::kPowerCycleAsked) {
        watch.asked(message.seconds);
        if (power.given()) {
          // The power cycle asked for is told before the guide's first step of it.
          tellPowerCycle(clock.now());
          driver.begin(false, watch, clock.now());
        }
      } else if (message.kind == MessageKind::kInstruction && seen.complete) {
        finalAsked = true;  // the power cycle that completes the update
      } else if (message.milestone == Milestone::kDownloadStarting) {
        hand.stopListening();
      }
      tellPowerCycle(message.seconds);
    }
    messages.clear();
  };
  const auto passErrors = [&](double now) {
    for (const SplitLine& line : lines) {
      observer->toolError(module, line.cut ? line.text + " [cut]" : line.text, now);
    }
    lines.clear();
  };

  bool closed = false;
  bool guideStopped = false;  // the guide's own power cycle failed and it stopped the tool
  for (;;) {
    // While a power command runs, its end and the switch's requests are looked at often.
    int tickMs = driver.busy() ? kPowerTickMs : kTickMs;
    ChildEvent event;
    if (closed) {
      sleepMilliseconds(tickMs);
      event.kind = wasInterrupted() ? ChildEvent::kInterrupted : ChildEvent::kTimeout;
    } else {
      event = child.wait(tickMs);
    }
    double now = clock.now();
    // What the hand did comes before what the tool says next, which may follow from it.
    hand.drain(&watch, now);
    tellPowerCycle(now);
    if (driver.busy()) {
      // The tool's closing line ends its run, though a virtual hand may keep its streams open
      // while it waits for orders.
      driver.step(watch, closed || closingSeen, now);
      if (driver.takeInterruption() && event.kind != ChildEvent::kInterrupted) {
        event.kind = ChildEvent::kInterrupted;
      }
    }
    // A command may fail as it starts, before the driver ever gets busy.
    if (driver.failed() && !closed && !closingSeen && !interrupted) {
      // Nothing more is to come of this power cycle: the tool is stopped as the person
      // would stop it.
      guideStopped = true;
      interrupted = true;
      interruptedAt = now;
      observer->interrupting(module, outcome.stage, now);
      child.interrupt();
    }
    if (closingSeen && !finalHandled && !driver.busy()) {
      finalHandled = true;
      // The last module's final power cycle, once the tool's run completed: the virtual hand
      // stays to follow it. Any other virtual hand is done.
      bool last = module.index + 1 == module.count;
      if (power.given() && finalAsked && last && !interrupted && !driver.failed()) {
        driver.begin(true, watch, now);
      }
    }
    if (finalHandled && !driver.busy()) {
      hand.closeOrders();
    }
    if (event.kind == ChildEvent::kClosed) {
      closed = true;
      if (!driver.busy()) {
        break;
      }
      continue;
    }
    if (event.kind == ChildEvent::kData) {
      if (event.stream == ChildStream::kOut) {
        reader.feed(event.bytes, now, &messages);
        deliver();
      } else {
        errorSplitter.feed(event.bytes, &lines);
        passErrors(now);
      }
    } else if (event.kind == ChildEvent::kInterrupted) {
      if (closed) {
        break;
      }
      if (!interrupted) {
        interrupted = true;
        interruptedAt = now;
        observer->interrupting(module, outcome.stage, now);
        child.interrupt();
      }
      // Asked again: the tool is still putting the interface back, and keeps its grace.
    } else {
      ProgressFigures current = progress.at(now);
      observer->tick(module, outcome.stage, haveProgress ? &current : nullptr, now);
    }
    if (interrupted && !killed && now - interruptedAt > kInterruptGraceSeconds) {
      child.kill();
      killed = true;
    }
  }
  reader.finish(clock.now(), &messages);
  deliver();
  errorSplitter.finish(&lines);
  passErrors(clock.now());
  // The virtual hand ends once it has no more orders to wait for.
  hand.closeOrders();
  outcome.status = child.finish();
  outcome.haveStatus = true;
  HoldsFound found = holdsAfter(seen);
  outcome.holds = found.holds;
  outcome.charactersSent = found.charactersSent;
  outcome.charactersExact = found.exact;
  if (killed) {
    outcome.killed = true;
    outcome.interfaceName = settings.rehearse ? std::string() : toolsInterfaceName();
  }
  if (guideStopped || driver.failed()) {
    outcome.reason = driver.problem();
    return end(Result::kPowerFailed);
  }
  if (interrupted) {
    return end(Result::kInterrupted);
  }
  // Status 0 is the tool's word that the download completed: a program that ends with it and
  // never said so has not flashed the module.
  bool completed = outcome.status == 0 && outcome.holds == Holds::kWritten;
  outcome.finalPowerCycleDone = driver.finalDone();
  outcome.guideSwitches = power.given();
  return end(completed ? Result::kDone : Result::kFailed);
}
