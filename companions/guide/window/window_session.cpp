#include "window_session.h"

#include <cstdio>
#include <fstream>
#include <utility>

#include "figures_text.h"
#include "file_name.h"
#include "findings_output.h"
#include "module_records.h"
#include "sequence.h"

namespace {

using Json = nlohmann::ordered_json;

// A page that has not asked for this long has gone: another may drive.
constexpr double kDriverLapseSeconds = 8.0;
// A driving page that said it left may come back this long after (a reload, whose leave may
// arrive after the new page's first question): longer than a long poll, so that the reloaded
// page has asked again by then.
constexpr double kDriverReturnSeconds = 6.0;

const char* phaseName(WindowPhase phase) {
  switch (phase) {
    case WindowPhase::kChoosing:
      return "choosing";
    case WindowPhase::kRunning:
      return "running";
    case WindowPhase::kStopped:
      return "stopped";
    case WindowPhase::kFinished:
      return "finished";
    case WindowPhase::kEnded:
      return "ended";
  }
  return "ended";
}

Json moduleJson(const WindowModule& module, size_t index) {
  Json object;
  object["index"] = index;
  object["node_text"] = module.nodeText;
  object["node"] = module.node != 0 ? Json(module.node) : Json(nullptr);
  object["name"] = module.node != 0 ? Json(module.name) : Json(nullptr);
  object["file"] = module.path;
  // What the person knows the file by: the uploaded file's own name, not the guide's copy.
  object["shown_file"] = module.originalName.empty() ? module.path : module.originalName;
  object["original_name"] = module.originalName.empty() ? Json(nullptr) : Json(module.originalName);
  object["checked"] = module.checked;
  object["allowed"] = module.allowed;
  object["findings"] = module.findings;
  object["summary"] = module.summary;
  std::string note = recordNote(module);
  object["record_note"] = note.empty() ? Json(nullptr) : Json(note);
  return object;
}

// |text| with the guide's copy of an uploaded file named by the file's own name: the copy's
// place is the guide's business, and means nothing to the person who chose the file.
std::string shownText(const WindowModule& module, std::string text) {
  if (module.originalName.empty() || module.path.empty()) {
    return text;
  }
  for (size_t at = text.find(module.path); at != std::string::npos;
       at = text.find(module.path, at + module.originalName.size())) {
    text.replace(at, module.path.size(), module.originalName);
  }
  return text;
}

}  // namespace

WindowSession::WindowSession(bool picking, std::string folder, Json rehearsal)
    : picking_(picking), folder_(std::move(folder)), rehearsal_(std::move(rehearsal)) {}

void WindowSession::changedLocked() {
  if (wake_) {
    wake_();
  }
}

void WindowSession::onChange(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

void WindowSession::publish(Json entry) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
  changedLocked();
}

void WindowSession::prepareLocked(WindowModule* module) const {
  module->rehearsal = rehearsal_.is_string() ? rehearsal_.get<std::string>() : std::string();
  auto found = records_.find(module->node);
  module->recordBefore = found != records_.end() ? found->second : ModuleRecord();
}

void WindowSession::setRecords(std::map<int, ModuleRecord> records, std::string warning) {
  std::lock_guard lock(mutex_);
  records_ = std::move(records);
  recordWarning_ = std::move(warning);
  for (WindowModule& module : modules_) {
    prepareLocked(&module);
  }
  ++version_;
  changedLocked();
}

void WindowSession::setRecordAfter(int node, const ModuleRecord& record,
                                   const std::string& warning) {
  std::lock_guard lock(mutex_);
  records_[node] = record;
  for (WindowModule& module : modules_) {
    prepareLocked(&module);
  }
  if (!warning.empty()) {
    recordWarning_ += (recordWarning_.empty() ? "" : " ") + warning;
  }
  ++version_;
  changedLocked();
}

void WindowSession::addModule(WindowModule module) {
  std::lock_guard lock(mutex_);
  prepareLocked(&module);
  modules_.push_back(std::move(module));
  ++version_;
  changedLocked();
}

void WindowSession::setChecks(size_t index, const PreflightResult& checks, bool allowed) {
  std::lock_guard lock(mutex_);
  if (index >= modules_.size()) {
    return;
  }
  WindowModule& module = modules_[index];
  module.checked = true;
  module.allowed = allowed;
  module.findings = Json::array();
  for (const Finding& finding : checks.findings) {
    Json object;
    object["severity"] = severityName(finding.severity);
    object["topic"] = finding.topic;
    object["text"] = shownText(module, finding.text);
    if (finding.line > 0) {
      object["line"] = finding.line;
      object["column"] = finding.column;
    }
    module.findings.push_back(std::move(object));
  }
  if (checks.haveSummary) {
    const ImageSummary& summary = checks.summary;
    module.summary = Json::object();
    module.summary["records"] =
        summary.dataRecords + summary.terminationRecords + summary.symbolRecords;
    module.summary["data_bytes"] = summary.dataBytes;
    module.summary["characters"] = summary.payloadChars;
    module.summary["estimated_s"] = summary.estimatedSeconds;
    module.summary["text"] = imageSummarySentence(summary);
  } else {
    module.summary = nullptr;
  }
  ++version_;
  changedLocked();
}

void WindowSession::setPhase(WindowPhase phase) {
  std::lock_guard lock(mutex_);
  phase_ = phase;
  ++version_;
  changedLocked();
}

void WindowSession::setMoment(Json moment) {
  std::lock_guard lock(mutex_);
  if (moment == moment_) {
    return;  // the pages are woken only for a change they would show
  }
  moment_ = std::move(moment);
  ++version_;
  changedLocked();
}

void WindowSession::setLog(const std::string& where) {
  std::lock_guard lock(mutex_);
  log_ = where;
  ++version_;
  changedLocked();
}

bool WindowSession::nextAction(int timeoutMs, WindowAction* action) {
  std::unique_lock lock(mutex_);
  if (!actionReady_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !actions_.empty(); })) {
    return false;
  }
  *action = actions_.front();
  actions_.pop_front();
  return true;
}

std::vector<WindowModule> WindowSession::modules() const {
  std::lock_guard lock(mutex_);
  return modules_;
}

WindowPhase WindowSession::phase() const {
  std::lock_guard lock(mutex_);
  return phase_;
}

bool WindowSession::canStart() const {
  std::lock_guard lock(mutex_);
  if (modules_.empty() || phase_ != WindowPhase::kChoosing) {
    return false;
  }
  for (const WindowModule& module : modules_) {
    if (!module.checked || !module.allowed) {
      return false;
    }
  }
  return true;
}

Json WindowSession::stateLocked() const {
  Json state;
  state["phase"] = phaseName(phase_);
  state["picking"] = picking_;
  state["rehearsal"] = rehearsal_;
  state["log"] = log_.empty() ? Json(nullptr) : Json(log_);
  state["record_warning"] = recordWarning_.empty() ? Json(nullptr) : Json(recordWarning_);
  Json modules = Json::array();
  bool startable = !modules_.empty() && phase_ == WindowPhase::kChoosing;
  for (size_t i = 0; i < modules_.size(); ++i) {
    modules.push_back(moduleJson(modules_[i], i));
    startable = startable && modules_[i].checked && modules_[i].allowed;
  }
  state["modules"] = std::move(modules);
  state["can_start"] = startable;
  state["refused_requests"] = refusedTotal_;
  state["moment"] = moment_;
  return state;
}

bool WindowSession::drivesLocked(const std::string& page, double now) {
  if (page.empty()) {
    return false;
  }
  if (driver_ == page) {
    driverSeen_ = now;
    driverLeft_ = -1;
    return true;
  }
  bool gone = driver_.empty() || (driverLeft_ >= 0 ? now - driverLeft_ > kDriverReturnSeconds
                                                   : now - driverSeen_ > kDriverLapseSeconds);
  if (!gone) {
    return false;
  }
  driver_ = page;
  driverSeen_ = now;
  driverLeft_ = -1;
  ++version_;
  return true;
}

bool WindowSession::drives(const std::string& page, double now) {
  std::lock_guard lock(mutex_);
  return drivesLocked(page, now);
}

Json WindowSession::read(size_t after, unsigned version, const std::string& page, double now,
                         bool* anything) {
  std::lock_guard lock(mutex_);
  bool driving = drivesLocked(page, now);
  *anything = entries_.size() > after || version != version_;
  Json body;
  Json entries = Json::array();
  for (size_t i = after; i < entries_.size(); ++i) {
    entries.push_back(entries_[i]);
  }
  body["entries"] = std::move(entries);
  body["next"] = entries_.size();
  body["version"] = version_;
  body["driving"] = driving;
  body["now"] = now;
  body["state"] = stateLocked();
  if (phase_ == WindowPhase::kEnded) {
    endWasRead_ = true;
    endRead_.notify_all();
  }
  return body;
}

void WindowSession::awaitEndRead(int timeoutMs) {
  std::unique_lock lock(mutex_);
  endRead_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return endWasRead_; });
}

bool WindowSession::ask(const std::string& page, WindowAction action, std::string* why) {
  std::lock_guard lock(mutex_);
  if (driver_ != page) {
    *why = "another page drives this run; this one only watches";
    return false;
  }
  switch (action.kind) {
    case WindowAction::kStart: {
      bool startable = !modules_.empty() && phase_ == WindowPhase::kChoosing;
      for (const WindowModule& module : modules_) {
        startable = startable && module.checked && module.allowed;
      }
      if (!startable) {
        *why = "the checks do not allow a start";
        return false;
      }
      break;
    }
    case WindowAction::kRetry:
      if (phase_ != WindowPhase::kStopped || action.index >= modules_.size()) {
        *why = "no module to try again";
        return false;
      }
      break;
    case WindowAction::kCheck:
    case WindowAction::kClose:
      break;
  }
  actions_.push_back(action);
  actionReady_.notify_one();
  return true;
}

bool WindowSession::upload(const std::string& page, const std::string& nodeText,
                           const std::string& originalName, const std::string& bytes,
                           std::string* why) {
  std::unique_lock lock(mutex_);
  if (driver_ != page) {
    *why = "another page drives this run; this one only watches";
    return false;
  }
  if (!picking_ || phase_ != WindowPhase::kChoosing) {
    *why = "modules can only be chosen on the page before the start, when none were given";
    return false;
  }
  if (bytes.size() > kMaxUploadBytes) {
    *why = "the file is larger than 4 MiB: it cannot be a firmware file for the hand";
    return false;
  }
  // The page's name is shown and logged: one that could pass for a line of its own is refused.
  std::string nameProblem = fileNameProblem(originalName);
  if (!nameProblem.empty()) {
    *why = nameProblem;
    return false;
  }
  // The file's name on this computer is the guide's own; the page's name is only shown.
  WindowModule module;
  static_cast<ModuleInfo&>(module) =
      namedModule(nodeText, folder_ + std::to_string(uploads_ + 1) + ".firmware");
  if (module.node == 0) {
    *why = "choose a module from 11 to 14";
    return false;
  }
  for (const WindowModule& other : modules_) {
    if (sameModule(other, module)) {
      *why = "module " + nodeText + " is chosen already; remove it first to choose another file";
      return false;
    }
  }
  ++uploads_;
  module.originalName = originalName;
  prepareLocked(&module);
  std::ofstream out(module.path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *why = "the file could not be kept in " + folder_;
    return false;
  }
  modules_.push_back(std::move(module));
  ++version_;
  actions_.push_back(WindowAction{WindowAction::kCheck, modules_.size() - 1});
  actionReady_.notify_one();
  changedLocked();
  return true;
}

bool WindowSession::removeModule(const std::string& page, size_t index, std::string* why) {
  std::lock_guard lock(mutex_);
  if (driver_ != page) {
    *why = "another page drives this run; this one only watches";
    return false;
  }
  if (!picking_ || phase_ != WindowPhase::kChoosing || index >= modules_.size()) {
    *why = "that module cannot be removed now";
    return false;
  }
  std::remove(modules_[index].path.c_str());
  modules_.erase(modules_.begin() + static_cast<std::ptrdiff_t>(index));
  // The checks queued for the modules after it move with them.
  for (WindowAction& action : actions_) {
    if (action.kind == WindowAction::kCheck && action.index > index) {
      --action.index;
    } else if (action.kind == WindowAction::kCheck && action.index == index) {
      action.index = modules_.size();  // checks nothing
    }
  }
  ++version_;
  changedLocked();
  return true;
}

void WindowSession::leave(const std::string& page, double now) {
  std::lock_guard lock(mutex_);
  if (driver_ == page) {
    // Kept for the page's return: a reload names itself with the same word.
    driverLeft_ = now;
  }
}

void WindowSession::refused(const char* why) {
  std::lock_guard lock(mutex_);
  ++refusedTotal_;
  ++refusedUnnoted_;
  std::string kind = why;
  if (refusedKinds_.find(kind) == std::string::npos) {
    refusedKinds_ += refusedKinds_.empty() ? kind : ", " + kind;
  }
  // Counted, and shown with the next change, but no page is woken for it: whoever may send
  // requests must not be able to make every page redraw at the rate they send them.
}

std::string WindowSession::takeRefusalNote() {
  std::lock_guard lock(mutex_);
  if (refusedUnnoted_ == 0) {
    return {};
  }
  std::string note = "window: " + std::to_string(refusedUnnoted_) + " request" +
                     (refusedUnnoted_ == 1 ? "" : "s") + " refused (" + refusedKinds_ + "), " +
                     std::to_string(refusedTotal_) + " since the window opened";
  refusedUnnoted_ = 0;
  refusedKinds_.clear();
  return note;
}
