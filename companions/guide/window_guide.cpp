#include "window_guide.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/node_number.h"
#include "download/node_frames.h"
#include "json_feed.h"
#include "run_log.h"
#include "subprocess.h"
#include "tool_locator.h"
#include "window_platform.h"
#include "window_server.h"
#include "window_session.h"
#include "window_view.h"

namespace {

using Json = nlohmann::ordered_json;

// The token's length: 128 bits.
constexpr int kTokenBytes = 16;
// How often the guide looks for the person's Ctrl-C while it waits for the page.
constexpr int kActionWaitMs = 100;
constexpr int kCannotServeStatus = 3;

WindowModule fromCommandLine(const std::string& nodeText, const std::string& path) {
  WindowModule module;
  module.nodeText = nodeText;
  module.path = path;
  if (parseNodeNumber(nodeText.c_str(), &module.node)) {
    module.name = nodletName(module.node);
  } else {
    module.node = 0;
  }
  return module;
}

ModuleInfo infoOf(const WindowModule& module, size_t index, size_t count,
                  const GuideSettings& settings) {
  ModuleInfo info;
  info.index = static_cast<int>(index);
  info.count = static_cast<int>(count);
  info.nodeText = module.nodeText;
  info.path = module.path;
  info.node = module.node;
  info.name = module.name;
  if (settings.rehearse) {
    info.rehearsal = settings.scenario;
  }
  return info;
}

// A finding that no --force may override: the module and its file, as opposed to this
// computer and its bus.
bool aboutTheFile(const Finding& finding) {
  return finding.topic == "node" || finding.topic == "file" || finding.topic == "record";
}

// The checks a module's turn begins with, made before the start so the page can show them.
PreflightResult checkBeforeStart(const std::vector<WindowModule>& modules, size_t index,
                                 const GuideSettings& settings, bool* allowed) {
  const WindowModule& module = modules[index];
  PreflightOptions options;
  options.nodeText = module.nodeText;
  options.path = module.path;
  options.imageOnly = settings.rehearse;
  options.listenMs = settings.listenMs;
  options.toolPath = settings.toolPath;
  options.selfPath = thisProgramPath();
  PreflightResult checks = runPreflight(options);
  for (size_t other = 0; other < index; ++other) {
    if (module.node != 0 && modules[other].node == module.node) {
      Finding twice;
      twice.severity = Severity::kProblem;
      twice.topic = "node";
      twice.text = "module " + module.nodeText + " is named twice: flash each module once";
      checks.findings.push_back(twice);
    }
  }
  *allowed = true;
  for (const Finding& finding : checks.findings) {
    if (finding.severity == Severity::kProblem && (!settings.force || aboutTheFile(finding))) {
      *allowed = false;
    }
  }
  return checks;
}

// Where the logs go, as the page shows it.
std::string logPlace(const WindowOptions& options) {
  if (options.noLog) {
    return {};
  }
  if (!options.logPath.empty()) {
    return options.logPath;
  }
  std::error_code code;
  std::filesystem::path here = std::filesystem::current_path(code);
  return "nodletflash-<node>-<UTC time>.log in " + (code ? std::string(".") : here.string());
}

// A page that sends the browser on to |url| at once: the browser is opened on this file, in the
// guide's own folder, so that the address with its token is on no command line (every
// account's processes' command lines can be read by every account).
std::string forwardingPage(const std::string& url) {
  return "<!DOCTYPE html>\n"
         "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"referrer\" content=\"no-referrer\">\n"
         "<title>nodletflash: opening the guided update</title>\n"
         "<script>location.replace(\"" +
         url +
         "\");</script>\n"
         "<meta http-equiv=\"refresh\" content=\"0; url=" +
         url + "\">\n</head>\n<body>\n<p>Opening <a href=\"" + url +
         "\">the guided update</a>...</p>\n</body>\n</html>\n";
}

// Says once that the browser could not be opened, when the program that opens it says so.
void tellBrowserFailure() {
  std::string error;
  if (browserOpenerFailed(&error)) {
    std::fprintf(stderr, "nodletflash-guide: %s; open the address above yourself\n", error.c_str());
  }
}

}  // namespace

int runWindow(const WindowOptions& options) {
  catchInterruptions();
  GuideClock clock;
  auto wallStart = std::chrono::system_clock::now();

  std::string token;
  if (!randomHex(kTokenBytes, &token)) {
    std::fprintf(stderr, "nodletflash-guide: the system's random source cannot be read\n");
    return kCannotServeStatus;
  }
  std::string folder;
  std::string error;
  bool picking = options.pairs.empty();
  // The uploaded files and the page the browser is opened on.
  if ((picking || options.openBrowser) && !makePrivateFolder(&folder, &error)) {
    std::fprintf(stderr, "nodletflash-guide: no folder for the page's files: %s\n", error.c_str());
    return kCannotServeStatus;
  }
  WindowSession session(picking, folder,
                        options.settings.rehearse ? Json(options.settings.scenario) : Json());
  for (size_t i = 0; i + 1 < options.pairs.size(); i += 2) {
    session.addModule(fromCommandLine(options.pairs[i], options.pairs[i + 1]));
  }
  session.setLog(logPlace(options));

  WindowServer server;
  if (!server.start(
          &session, token, [&clock] { return clock.now(); }, &error)) {
    std::fprintf(stderr, "nodletflash-guide: %s\n", error.c_str());
    removePrivateFolder(folder);
    return kCannotServeStatus;
  }
  // The token travels in the fragment, which a browser never sends: it reaches no log.
  std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/#" + token;
  std::printf("%s\n", url.c_str());
  std::fflush(stdout);
  if (options.openBrowser) {
    // The page's name is the guide's own; its folder is this user's alone, the page 0600.
    std::string page = folder + "open-window.html";
    if (!writePrivateFile(page, forwardingPage(url), &error) || !openInBrowser(page, &error)) {
      std::fprintf(stderr, "nodletflash-guide: %s; open the address above yourself\n",
                   error.c_str());
    }
  }

  JsonFeed feed([&session](const Json& event) { session.publish(event); });
  WindowLines lines(&session);
  std::unique_ptr<RunLog> log;
  std::unique_ptr<WindowLogNotes> notes;
  // The row first, then what the feed says of it.
  std::vector<RunObserver*> observers{&lines, &feed};
  if (!options.noLog) {
    log = std::make_unique<RunLog>(options.logPath, wallStart);
    notes = std::make_unique<WindowLogNotes>(log.get(), &session);
    observers.push_back(log.get());
    observers.push_back(notes.get());
  }

  const auto check = [&](size_t index) {
    std::vector<WindowModule> modules = session.modules();
    if (index >= modules.size()) {
      return;
    }
    bool allowed = false;
    PreflightResult checks = checkBeforeStart(modules, index, options.settings, &allowed);
    session.setChecks(index, checks, allowed);
  };
  for (size_t i = 0; i < session.modules().size(); ++i) {
    check(i);
  }

  std::vector<ModuleOutcome> outcomes;
  int status = 0;
  // Runs the modules from |first| on that are not done yet, until one is not done.
  const auto runFrom = [&](size_t first) {
    std::vector<WindowModule> modules = session.modules();
    outcomes.resize(modules.size());
    session.setPhase(WindowPhase::kRunning);
    std::vector<ModuleInfo> infos;
    for (size_t i = 0; i < modules.size(); ++i) {
      infos.push_back(infoOf(modules[i], i, modules.size(), options.settings));
    }
    bool stopped = false;
    for (size_t i = first; i < modules.size(); ++i) {
      if (outcomes[i].result == Result::kDone) {
        continue;
      }
      if (stopped || wasInterrupted()) {
        // The first failure stops the sequence: the rest are left as they are.
        outcomes[i] = ModuleOutcome();
        outcomes[i].reason = "the sequence stopped at an earlier module";
        for (RunObserver* observer : observers) {
          observer->moduleEnds(infos[i], outcomes[i], clock.now());
        }
        continue;
      }
      // The file once more, as the guide checks it before a module's turn: it may have changed
      // since the page showed its checks.
      PreflightResult fileChecks = checkNodeAndImage(infos[i].nodeText, infos[i].path);
      if (hasProblem(fileChecks)) {
        outcomes[i] = refuseModule(infos[i], fileChecks, clock, observers);
        stopped = true;
        continue;
      }
      if (log != nullptr) {
        std::string reason;
        if (!log->open(infos[i], clock.now(), &reason)) {
          // No module starts without its log unless the person asked for none.
          outcomes[i] = ModuleOutcome();
          outcomes[i].result = Result::kNotStarted;
          outcomes[i].reason = reason + "; start the guide with another --log, or --no-log";
          for (RunObserver* observer : observers) {
            observer->moduleBegins(infos[i], clock.now());
            observer->moduleEnds(infos[i], outcomes[i], clock.now());
          }
          stopped = true;
          continue;
        }
        infos[i].logPath = log->path();
      }
      outcomes[i] = runModule(infos[i], fileChecks, options.settings, clock, observers);
      stopped = outcomes[i].result != Result::kDone;
    }
    for (RunObserver* observer : observers) {
      observer->sequenceEnds(infos, outcomes, clock.now());
    }
    status = 0;
    for (const ModuleOutcome& outcome : outcomes) {
      if (outcome.result != Result::kDone) {
        status = guideExitStatus(outcome);
        break;
      }
    }
    session.setPhase(status == 0 ? WindowPhase::kFinished : WindowPhase::kStopped);
  };

  bool started = false;
  for (;;) {
    if (wasInterrupted()) {
      if (!started) {
        status = kInterruptedStatus;
      }
      break;
    }
    tellBrowserFailure();
    WindowAction action;
    if (!session.nextAction(kActionWaitMs, &action)) {
      continue;
    }
    if (action.kind == WindowAction::kClose) {
      break;
    }
    if (action.kind == WindowAction::kCheck) {
      check(action.index);
    } else if (action.kind == WindowAction::kStart && session.canStart()) {
      started = true;
      runFrom(0);
    } else if (action.kind == WindowAction::kRetry && session.phase() == WindowPhase::kStopped &&
               action.index < outcomes.size()) {
      runFrom(action.index);
    }
  }
  session.setPhase(WindowPhase::kEnded);
  server.stop();
  if (!folder.empty()) {
    removePrivateFolder(folder);
  }
  interruptionHandled();
  return status;
}
