// This computer's record across runs of what it last did to each module, as the run sees it:
// read when a sequence is made and before each of its runs, written at a module's end when its
// turn may have changed what the module holds. The record's keeping (a file, or none) is the
// records library's.
#pragma once

#include <map>
#include <string>

#include "module_outcome.h"

/// Where the record is kept.
class ModuleRecords {
 public:
  virtual ~ModuleRecords() = default;
  /// The record of every module it has, by node number. |warning| is set when the record is
  /// missing, unreadable or damaged: then it has none.
  virtual std::map<int, ModuleRecord> readAll(std::string* warning) = 0;
  /// |module|'s turn begins: the file's identity is taken as the tool is about to read it.
  virtual void turnBegins(const ModuleInfo& module) = 0;
  /// Records that |module| now holds |holds| from its file, keeping every other module's
  /// record. Returns the module's record as it then stands: the earlier one, with |warning|
  /// set, when it could not be written.
  virtual ModuleRecord turnEnds(const ModuleInfo& module, Holds holds, std::string* warning) = 0;
};

/// The record of |module| after a turn that ended with |outcome|: a turn that may have changed
/// what the module holds is recorded (|warning| set when that fails); any other leaves the
/// record as it was. |records| may be null: nothing is kept.
ModuleRecord recordAfterTurn(const ModuleInfo& module, const ModuleOutcome& outcome,
                             ModuleRecords* records, std::string* warning);

/// What the record of |module| before its turn says that a person must know, as one or two
/// sentences: empty when it has none, or the module was last written whole.
std::string recordNote(const ModuleInfo& module);
