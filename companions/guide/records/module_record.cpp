#include "module_record.h"

#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>

#include "record_file.h"
#include "sha256.h"
#include "utc_time.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr int kRecordVersion = 1;

// The words that say, to a person reading it, what the guide cannot say without the record.
constexpr const char* kWithout = "the guide cannot say what an earlier run left in the modules";

bool holdsNamed(const std::string& name, Holds* holds) {
  for (Holds each : {Holds::kUnchanged, Holds::kMayBeErased, Holds::kPartWay, Holds::kWritten}) {
    if (name == holdsName(each)) {
      *holds = each;
      return true;
    }
  }
  return false;
}

std::string utcNow() {
  std::tm utc = utcOf(std::chrono::system_clock::now());
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

std::string moduleRecordPath(const std::string& folder, bool rehearsal) {
  return folder + (rehearsal ? "rehearsals.json" : "modules.json");
}

std::string moduleRecordText(const std::map<int, ModuleRecord>& records) {
  Json modules = Json::object();
  for (const auto& [node, record] : records) {
    Json entry;
    entry["holds"] = holdsName(record.holds);
    entry["utc"] = record.utc;
    entry["file"] = record.file;
    entry["sha256"] = record.sha256;
    if (!record.set.empty()) {
      entry["set"] = record.set;
    }
    modules[std::to_string(node)] = std::move(entry);
  }
  Json whole;
  whole["version"] = kRecordVersion;
  whole["modules"] = std::move(modules);
  // A file name need not be UTF-8: bytes that are not are replaced, not fatal.
  return whole.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool parseModuleRecord(const std::string& text, std::map<int, ModuleRecord>* records,
                       std::string* why) {
  records->clear();
  Json whole = Json::parse(text, nullptr, false);
  if (whole.is_discarded()) {
    *why = "not JSON";
    return false;
  }
  if (!whole.is_object()) {
    *why = "not a JSON object";
    return false;
  }
  if (!whole.contains("version") || whole["version"] != kRecordVersion) {
    *why = "not version " + std::to_string(kRecordVersion);
    return false;
  }
  if (!whole.contains("modules") || !whole["modules"].is_object()) {
    *why = "no \"modules\"";
    return false;
  }
  for (const auto& [key, entry] : whole["modules"].items()) {
    int node = 0;
    try {
      size_t used = 0;
      node = std::stoi(key, &used);
      if (used != key.size()) {
        node = 0;
      }
    } catch (const std::exception&) {
      node = 0;
    }
    ModuleRecord record;
    record.known = true;
    bool sound = node > 0 && entry.is_object();
    for (const char* field : {"holds", "utc", "file", "sha256"}) {
      sound = sound && entry.contains(field) && entry[field].is_string();
    }
    sound = sound && holdsNamed(entry["holds"].get<std::string>(), &record.holds);
    if (!sound) {
      records->clear();
      *why = "the entry \"" + key + "\" is not a module's record";
      return false;
    }
    record.utc = entry["utc"].get<std::string>();
    record.file = entry["file"].get<std::string>();
    record.sha256 = entry["sha256"].get<std::string>();
    if (entry.contains("set") && entry["set"].is_string()) {
      record.set = entry["set"].get<std::string>();
    }
    (*records)[node] = std::move(record);
  }
  return true;
}

ModuleRecordFile thisUsersModuleRecord(bool rehearsal) {
  std::string why;
  std::string folder = stateFolder(&why);
  return ModuleRecordFile(folder.empty() ? std::string() : moduleRecordPath(folder, rehearsal),
                          why);
}

ModuleRecordFile::ModuleRecordFile(std::string path, std::string noPlace)
    : path_(std::move(path)), noPlace_(std::move(noPlace)) {}

std::map<int, ModuleRecord> ModuleRecordFile::readAll(std::string* warning) {
  std::map<int, ModuleRecord> records;
  if (path_.empty()) {
    *warning = "this computer keeps no record of what it wrote to the modules (" + noPlace_ +
               "): " + kWithout + ".";
    return records;
  }
  std::string text;
  bool missing = false;
  std::string why;
  if (!readRecordFile(path_, &text, &missing, &why)) {
    *warning = missing ? "this computer has no record yet of what it wrote to the modules (" +
                             path_ + " is not there): " + kWithout + "."
                       : "this computer's record of what it wrote to the modules (" + path_ +
                             ") cannot be read (" + why + "): " + kWithout + ".";
    return records;
  }
  if (!parseModuleRecord(text, &records, &why)) {
    *warning = "this computer's record of what it wrote to the modules (" + path_ +
               ") is damaged (" + why + ") and is not used: " + kWithout +
               ". It is written anew at the end of the next module's download.";
  }
  return records;
}

void ModuleRecordFile::turnBegins(const ModuleInfo& module) {
  std::string why;
  digests_[module.node] = sha256File(module.path, &why);
}

ModuleRecord ModuleRecordFile::turnEnds(const ModuleInfo& module, Holds holds,
                                        std::string* warning) {
  ModuleRecord record;
  record.known = true;
  record.holds = holds;
  record.utc = utcNow();
  record.file = module.originalName.empty() ? module.path : module.originalName;
  record.set = module.set;
  auto digest = digests_.find(module.node);
  record.sha256 = digest != digests_.end() ? digest->second : sha256File(module.path, nullptr);
  std::string why = noPlace_;
  bool written = !path_.empty() && updateRecordFile(
                                       path_,
                                       [&](const std::string& current) {
                                         std::map<int, ModuleRecord> records;
                                         std::string damaged;
                                         // A damaged record is replaced: it says nothing that can
                                         // be kept.
                                         parseModuleRecord(current, &records, &damaged);
                                         records[module.node] = record;
                                         return moduleRecordText(records);
                                       },
                                       &why);
  if (written) {
    return record;
  }
  *warning = "this computer's record of module " + moduleLabel(module) + " could not be updated (" +
             why + "): it still says what it said before this turn.";
  return module.recordBefore;
}
