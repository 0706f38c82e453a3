// The run as the window's pages see it: everything the guide has told (replayed to every page
// that asks, so a reload or a second tab shows the same run), the modules and their checks
// before the start, and the actions the driving page asks for. Shared by the guide's thread
// and the server's.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "module_outcome.h"
#include "preflight.h"

/// A module as the window shows it before and between runs: the module, and what the page adds.
struct WindowModule : ModuleInfo {
  bool checked = false;
  bool allowed = false;  // the checks let it start
  nlohmann::ordered_json findings = nlohmann::ordered_json::array();
  nlohmann::ordered_json summary;  // null until the file could be read
};

/// Where the sequence stands.
enum class WindowPhase {
  kChoosing,  // before the start; the page may still pick modules when none were given
  kRunning,   // a module is being flashed
  kStopped,   // a module failed: it may be tried again
  kFinished,  // every module is done
  kEnded,     // the guide is ending; the pages will lose their connection
};

/// What the driving page asked for.
struct WindowAction {
  enum Kind { kCheck, kStart, kRetry, kClose };
  Kind kind = kStart;
  size_t index = 0;  // kCheck, kRetry: the module
};

class WindowSession {
 public:
  /// |picking|: the page chooses the modules; |folder| holds their files.
  WindowSession(bool picking, std::string folder, nlohmann::ordered_json rehearsal);

  // The guide's side.
  /// Appends |entry| to what every page is told, and wakes the pages waiting for it.
  void publish(nlohmann::ordered_json entry);
  void addModule(WindowModule module);
  void setChecks(size_t index, const PreflightResult& checks, bool allowed);
  void setPhase(WindowPhase phase);
  void setLog(const std::string& where);
  /// What the pages show of the moment, worded by the guide: the power cycle's instruction or
  /// the download's figures; null between them.
  void setMoment(nlohmann::ordered_json moment);
  /// This computer's record of the modules when the guide began, and |warning| when it could
  /// not be read: each module's row tells what a person must know of it before the start.
  void setRecords(std::map<int, ModuleRecord> records, std::string warning);
  /// |node|'s record after its turn, and |warning| when it could not be written: what the
  /// pages say of the module from then on.
  void setRecordAfter(int node, const ModuleRecord& record, const std::string& warning);
  /// Waits up to |timeoutMs| for an action; false when none came.
  bool nextAction(int timeoutMs, WindowAction* action);
  std::vector<WindowModule> modules() const;
  WindowPhase phase() const;
  bool canStart() const;

  // The server's side. |page| names the asking page (a random word it chose).
  /// Everything from entry |after| on, the state of the modules, and whether |page| drives;
  /// |anything| is false when the page has seen it all (entries and state |version|).
  nlohmann::ordered_json read(size_t after, unsigned version, const std::string& page, double now,
                              bool* anything);
  /// The driving page asks for |action|; false with |why| when it may not now.
  bool ask(const std::string& page, WindowAction action, std::string* why);
  /// A file the driving page uploaded for node |nodeText|; false with |why| when refused.
  bool upload(const std::string& page, const std::string& nodeText, const std::string& originalName,
              const std::string& bytes, std::string* why);
  bool removeModule(const std::string& page, size_t index, std::string* why);
  /// The page has gone (closed, or reloading): another may drive unless it comes back soon.
  void leave(const std::string& page, double now);
  /// True when |page| drives the run (claiming it when nobody does). A page names itself with
  /// the same word after a reload, and drives on.
  bool drives(const std::string& page, double now);
  /// One more request refused by the gate. It wakes no page: the count is told with the next
  /// change.
  void refused(const char* why);
  /// The refusals not yet noted in the log, as a sentence; empty when there are none.
  std::string takeRefusalNote();
  /// Waits up to |timeoutMs| for a page to have read that the guide is ending.
  void awaitEndRead(int timeoutMs);
  /// Called whenever there is something new to read, from the thread that made it.
  void onChange(std::function<void()> wake);

 private:
  bool drivesLocked(const std::string& page, double now);
  // What the window knows of |module| before its turn: the rehearsal, the record.
  void prepareLocked(WindowModule* module) const;
  nlohmann::ordered_json stateLocked() const;
  void changedLocked();

  mutable std::mutex mutex_;
  std::condition_variable actionReady_;
  std::deque<WindowAction> actions_;
  std::vector<nlohmann::ordered_json> entries_;
  std::vector<WindowModule> modules_;
  bool picking_;
  std::string folder_;
  nlohmann::ordered_json rehearsal_;
  WindowPhase phase_ = WindowPhase::kChoosing;
  std::string log_;
  std::map<int, ModuleRecord> records_;
  std::string recordWarning_;
  int uploads_ = 0;
  unsigned version_ = 0;  // counts changes of the state outside the entries
  std::string driver_;
  double driverSeen_ = 0;
  double driverLeft_ = -1;  // when the driving page said it left; -1 while it stays
  nlohmann::ordered_json moment_;
  int refusedTotal_ = 0;
  int refusedUnnoted_ = 0;
  std::string refusedKinds_;
  std::function<void()> wake_;
  std::condition_variable endRead_;
  bool endWasRead_ = false;
};

/// The largest file the page may upload.
constexpr size_t kMaxUploadBytes = size_t{4} * 1024 * 1024;
