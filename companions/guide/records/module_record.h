// This computer's record across runs of what it last did to each module of the hand: one small
// JSON file per user, read when a sequence is made and written whole at a module's end. It is
// this computer's word, not the module's: it cannot tell one hand from another.
#pragma once

#include <map>
#include <string>

#include "module_records.h"

/// The record's file in |folder| (from stateFolder()): modules.json, or rehearsals.json for the
/// virtual hand's, which never mixes with the real hand's.
std::string moduleRecordPath(const std::string& folder, bool rehearsal);

/// The record's text: {"version":1,"modules":{"12":{"holds":...,"utc":...,"file":...,
/// "sha256":...}}}.
std::string moduleRecordText(const std::map<int, ModuleRecord>& records);

/// Reads the record's text into |records|; false with |why| when it is damaged. Fields it does
/// not know are ignored.
bool parseModuleRecord(const std::string& text, std::map<int, ModuleRecord>* records,
                       std::string* why);

class ModuleRecordFile;

/// This user's record for a guide that rehearses (|rehearsal|) or flashes the real hand, in
/// the folder stateFolder() names.
ModuleRecordFile thisUsersModuleRecord(bool rehearsal);

/// The record kept in a file; a warning, never a refusal, when it cannot be read or written.
class ModuleRecordFile : public ModuleRecords {
 public:
  /// |path| empty: no place is known for it (|noPlace| says why), and nothing is kept.
  ModuleRecordFile(std::string path, std::string noPlace);

  std::map<int, ModuleRecord> readAll(std::string* warning) override;
  void turnBegins(const ModuleInfo& module) override;
  ModuleRecord turnEnds(const ModuleInfo& module, Holds holds, std::string* warning) override;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string noPlace_;
  std::map<int, std::string> digests_;  // by node: the SHA-256 of the file its turn began with
};
