// The run both faces drive: the modules the person named, flashed one after another. Every
// module's node number and file is checked before anything is touched, no module starts without
// its log, the first module that does not complete stops the sequence, and a try again goes on
// from a module. The terminal and the window differ only in what they show and when they ask.
#pragma once

#include <string>
#include <vector>

#include "module_run.h"

/// A module as the person named it: its node number as typed and its firmware file.
ModuleInfo namedModule(const std::string& nodeText, const std::string& path);

/// Whether |a| and |b| name the same module of the hand (typed alike or not): a module is
/// flashed once in a sequence.
bool sameModule(const ModuleInfo& a, const ModuleInfo& b);

/// The first two of |modules| that name the same module, in |first| and |second|; false when
/// every module is named once.
bool namedTwice(const std::vector<ModuleInfo>& modules, size_t* first, size_t* second);

/// Where each module's turn is recorded (the log): opened before anything of the turn is told.
class TurnRecord {
 public:
  virtual ~TurnRecord() = default;
  /// Opens the record of |module|'s turn, which begins at |seconds|. False with |reason| set
  /// (naming the place and the system's words) when it cannot.
  virtual bool open(const ModuleInfo& module, double seconds, std::string* reason) = 0;
  /// The place the turn is recorded in; empty when none is open.
  virtual const std::string& path() const = 0;
};

/// The modules of one guided update and how each one's turn ended.
class Sequence {
 public:
  /// |modules| in the order given (numbered here); |observer| is told everything; |record| keeps
  /// each turn, or is null when the person asked for no log; |records| keeps this computer's
  /// record of the modules across runs, or is null when none is kept. Each module's record
  /// before the run is read here.
  Sequence(std::vector<ModuleInfo> modules, GuideSettings settings, const GuideClock* clock,
           RunObserver* observer, TurnRecord* record, ModuleRecords* records = nullptr);

  /// Flashes the modules that are not done, from |first| on (from an earlier one when that is
  /// not done: the modules go in order). Returns the guide's exit status: 0 when every module is
  /// done, else that of the first one not done.
  int run(size_t first);

  const std::vector<ModuleInfo>& modules() const { return modules_; }
  const std::vector<ModuleOutcome>& outcomes() const { return outcomes_; }
  /// Why this computer's record of the modules could not be read when it last was (missing,
  /// unreadable, damaged); empty when it was read.
  const std::string& recordWarning() const { return recordWarning_; }

 private:
  // Refuses |todo|: the node number or the file of one of them has problems.
  void refuseAll(const std::vector<size_t>& todo, const std::vector<PreflightResult>& fileChecks);
  // A module not flashed because the sequence stopped before it.
  void skip(size_t index, const std::string& reason);
  // Reads this computer's record of every module into its recordBefore.
  void readRecords();

  std::vector<ModuleInfo> modules_;
  std::vector<ModuleOutcome> outcomes_;
  GuideSettings settings_;
  const GuideClock* clock_;
  RunObserver* observer_;
  TurnRecord* record_;
  ModuleRecords* records_;
  std::string recordWarning_;
  int runs_ = 0;
};
