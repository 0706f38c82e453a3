#include "window_guide.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "interruption.h"
#include "json_feed.h"
#include "module_record.h"
#include "run_log.h"
#include "tool_locator.h"
#include "window_moment.h"
#include "window_platform.h"
#include "window_server.h"
#include "window_session.h"
#include "window_terminal.h"
#include "window_view.h"

namespace {

using Json = nlohmann::ordered_json;

// The token's length: 128 bits.
constexpr int kTokenBytes = 16;
// How often the guide looks for the person's Ctrl-C while it waits for the page.
constexpr int kActionWaitMs = 100;
constexpr int kCannotServeStatus = 3;

// The checks a module's turn begins with, made before the start so the page can show them.
PreflightResult checkBeforeStart(const WindowModule& module, const GuideSettings& settings,
                                 bool* allowed) {
  PreflightOptions options;
  options.nodeText = module.nodeText;
  options.path = module.path;
  options.imageOnly = settings.rehearse;
  options.listenMs = settings.listenMs;
  options.toolPath = settings.toolPath;
  options.selfPath = thisProgramPath();
  PreflightResult checks = runPreflight(options);
  *allowed = !checksRefuse(checks, settings.force);
  return checks;
}

// Where the logs go, as the page shows it.
std::string logPlace(const LogChoice& log) {
  if (log.none) {
    return {};
  }
  if (!log.path.empty()) {
    return log.path;
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

int runWindow(const GuideSettings& settings, const LogChoice& logChoice,
              std::vector<ModuleInfo> modules, bool openBrowser) {
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
  bool picking = modules.empty();
  // The uploaded files and the page the browser is opened on.
  if ((picking || openBrowser) && !makePrivateFolder(&folder, &error)) {
    std::fprintf(stderr, "nodletflash-guide: no folder for the page's files: %s\n", error.c_str());
    return kCannotServeStatus;
  }
  WindowSession session(picking, folder, settings.rehearse ? Json(settings.scenario) : Json());
  for (ModuleInfo& module : modules) {
    WindowModule shown;
    static_cast<ModuleInfo&>(shown) = std::move(module);
    session.addModule(std::move(shown));
  }
  session.setLog(logPlace(logChoice));
  // A rehearsal keeps a record of its own: the virtual hand's modules are not the real ones.
  ModuleRecordFile records = thisUsersModuleRecord(settings.rehearse);
  {
    std::string warning;
    std::map<int, ModuleRecord> kept = records.readAll(&warning);
    session.setRecords(std::move(kept), std::move(warning));
  }

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
  const char* noColour = std::getenv("NO_COLOR");
  LinePrinter printer(stdout, noColour != nullptr && noColour[0] != '\0');
  printer.print(windowTerminalIntro(logPlace(logChoice)));
  if (openBrowser) {
    // The page's name is the guide's own; its folder is this user's alone, the page 0600.
    std::string page = folder + "open-window.html";
    if (!writePrivateFile(page, forwardingPage(url), &error) || !openInBrowser(page, &error)) {
      std::fprintf(stderr, "nodletflash-guide: %s; open the address above yourself\n",
                   error.c_str());
    }
  }

  JsonFeed feed([&session](const Json& event) { session.publish(event); });
  WindowLines lines(&session);
  WindowMoment moment(&session);
  WindowTerminal terminal(&printer);
  // The row first, then what the feed says of it.
  RunObservers observers;
  observers.add(&lines);
  observers.add(&feed);
  observers.add(&moment);
  observers.add(&terminal);
  std::unique_ptr<RunLog> log;
  std::unique_ptr<WindowLogNotes> notes;
  if (!logChoice.none) {
    log = std::make_unique<RunLog>(logChoice.path, wallStart);
    notes = std::make_unique<WindowLogNotes>(log.get(), &session);
    observers.add(log.get());
    observers.add(notes.get());
  }

  const auto check = [&](size_t index) {
    std::vector<WindowModule> shown = session.modules();
    if (index >= shown.size()) {
      return;
    }
    bool allowed = false;
    PreflightResult checks = checkBeforeStart(shown[index], settings, &allowed);
    session.setChecks(index, checks, allowed);
  };
  for (size_t i = 0; i < session.modules().size(); ++i) {
    check(i);
  }

  // The sequence of the modules chosen, made at the start; a try again goes on with it.
  std::unique_ptr<Sequence> sequence;
  int status = 0;
  const auto runFrom = [&](size_t first) {
    session.setPhase(WindowPhase::kRunning);
    status = sequence->run(first);
    session.setPhase(status == 0 ? WindowPhase::kFinished : WindowPhase::kStopped);
    if (!wasInterrupted()) {
      printer.print(kWindowTerminalHowToEnd);
    }
  };

  for (;;) {
    if (wasInterrupted()) {
      if (sequence == nullptr) {
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
      std::vector<WindowModule> shown = session.modules();
      std::vector<ModuleInfo> chosen(shown.begin(), shown.end());
      sequence = std::make_unique<Sequence>(std::move(chosen), settings, &clock, &observers,
                                            log.get(), &records);
      runFrom(0);
    } else if (action.kind == WindowAction::kRetry && sequence != nullptr &&
               session.phase() == WindowPhase::kStopped &&
               action.index < sequence->modules().size()) {
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
