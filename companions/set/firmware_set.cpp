#include "firmware_set.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "download/node_frames.h"
#include "file_name.h"
#include "sha256.h"

namespace {

// A set file is a few lines; anything larger is not one.
constexpr std::streamsize kMaxSetBytes = 1 << 20;

std::string lineWords(const toml::source_region& where) {
  return "line " + std::to_string(where.begin.line);
}

// "module 12 (Finger 2)", or the key as the set writes it when it names no module.
std::string entryLabel(const std::string& key, int node) {
  if (node == 0) {
    return "the entry [modules." + escapedText(key) + "]";
  }
  return "module " + std::to_string(node) + " (" + nodletName(node) + ")";
}

// The node a key of [modules] names: exactly "11" to "14"; 0 for any other key.
int nodeOfKey(const std::string& key) {
  for (int node = 11; node <= 14; ++node) {
    if (key == std::to_string(node)) {
      return node;
    }
  }
  return 0;
}

bool isDigest(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

std::string lowerCase(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// TOML refuses a table defined twice before any entry can be looked at; the set's own words for
// that fault name the module, found among the table headers. Empty when no module's header
// appears twice.
std::string moduleNamedTwice(const std::string& text) {
  static const std::regex header(
      R"re(^[ \t]*\[[ \t]*modules[ \t]*\.[ \t]*(?:"([^"]*)"|'([^']*)'|([A-Za-z0-9_-]+))[ \t]*\][ \t]*(#.*)?\r?$)re");
  std::map<std::string, int> seen;  // key -> first line
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    std::smatch match;
    if (!std::regex_match(line, match, header)) {
      continue;
    }
    std::string key = match[1].matched   ? match[1].str()
                      : match[2].matched ? match[2].str()
                                         : match[3].str();
    auto [first, inserted] = seen.emplace(key, number);
    if (!inserted) {
      return entryLabel(key, nodeOfKey(key)) + " is named twice (lines " +
             std::to_string(first->second) + " and " + std::to_string(number) +
             "); name each module once";
    }
  }
  return "";
}

bool readText(const std::string& path, std::string* text, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "it cannot be opened";
    return false;
  }
  std::string content(static_cast<size_t>(kMaxSetBytes) + 1, '\0');
  in.read(content.data(), kMaxSetBytes + 1);
  if (in.bad()) {
    *why = "it could not be read to its end";
    return false;
  }
  std::streamsize got = in.gcount();
  if (got > kMaxSetBytes) {
    *why = "it is larger than a set file can be (1 MiB)";
    return false;
  }
  content.resize(static_cast<size_t>(got));
  *text = std::move(content);
  return true;
}

// Verifies one [modules.N] table into |entry|; appends a sentence to |problems| for each fault.
void verifyEntry(const std::string& setPath, const std::string& key, int node,
                 const toml::table& table, SetEntry* entry, std::vector<std::string>* problems) {
  std::string label = entryLabel(key, node);
  const size_t before = problems->size();
  for (auto&& [field, value] : table) {
    if (field.str() != "file" && field.str() != "sha256") {
      problems->push_back(label + ": unknown key \"" + escapedText(field.str()) + "\" (" +
                          lineWords(field.source()) + "); an entry has only file and sha256");
    }
  }
  const auto* file = table.get_as<std::string>("file");
  const auto* digest = table.get_as<std::string>("sha256");
  if (file == nullptr || file->get().empty()) {
    problems->push_back(label + ": no file (a string naming the firmware file)");
  }
  if (digest == nullptr || !isDigest(digest->get())) {
    problems->push_back(label + ": no sha256, or not one (64 hex digits)");
  }
  if (file == nullptr || digest == nullptr || problems->size() != before) {
    return;
  }
  entry->node = node;
  entry->nodeText = key;
  entry->file = file->get();
  entry->path = setEntryPath(setPath, entry->file);
  entry->sha256 = lowerCase(digest->get());
  std::string shown = escapedText(entry->file);
  std::string why;
  std::string actual = sha256File(entry->path, &why);
  if (actual.empty()) {
    problems->push_back(label + ": its file " + shown + " cannot be read (" + why + ")");
  } else if (actual != entry->sha256) {
    problems->push_back(label + ": its file " + shown + " has SHA-256 " + actual +
                        ", not the set's " + entry->sha256 +
                        "; it is not the file the set was made with");
  }
}

}  // namespace

int setReadingStatus(SetReading reading) {
  switch (reading) {
    case SetReading::kVerified:
      return 0;
    case SetReading::kRefused:
      return 1;
    case SetReading::kUnreadable:
      return 2;
  }
  return 2;
}

std::string setEntryPath(const std::string& setPath, const std::string& file) {
#ifdef _WIN32
  bool absolute = (file.size() >= 2 && file[1] == ':') ||
                  (!file.empty() && (file[0] == '\\' || file[0] == '/'));
  size_t slash = setPath.find_last_of("/\\");
#else
  bool absolute = !file.empty() && file[0] == '/';
  size_t slash = setPath.find_last_of('/');
#endif
  if (absolute || slash == std::string::npos) {
    return file;
  }
  return setPath.substr(0, slash + 1) + file;
}

SetReading readFirmwareSet(const std::string& path, FirmwareSet* set,
                           std::vector<std::string>* problems) {
  *set = FirmwareSet();
  set->path = path;
  problems->clear();
  const std::string where = "the set " + escapedText(path) + ": ";
  std::string text;
  std::string why;
  if (!readText(path, &text, &why)) {
    problems->push_back(where + why);
    return SetReading::kUnreadable;
  }
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& error) {
    std::string twice = moduleNamedTwice(text);
    if (!twice.empty()) {
      problems->push_back(where + twice);
      return SetReading::kRefused;
    }
    problems->push_back(where + "not TOML (" + lineWords(error.source()) + ", column " +
                        std::to_string(error.source().begin.column) + ": " +
                        std::string(error.description()) + ")");
    return SetReading::kUnreadable;
  }
  std::vector<std::string> found;
  for (auto&& [key, value] : root) {
    if (key.str() != "name" && key.str() != "modules") {
      found.push_back("unknown key \"" + escapedText(key.str()) + "\" (" + lineWords(key.source()) +
                      "); a set has only name and [modules.N] tables");
    }
  }
  const auto* name = root.get_as<std::string>("name");
  if (name == nullptr || name->get().empty()) {
    found.push_back("no name (a string naming the set)");
  } else if (hasControlCharacter(name->get())) {
    found.push_back("its name \"" + escapedText(name->get()) + "\" holds a control character");
  } else {
    set->name = name->get();
  }
  const toml::table* modules = root.get_as<toml::table>("modules");
  if (modules == nullptr || modules->empty()) {
    found.push_back("no modules (a [modules.N] table for each module, N from 11 to 14)");
  } else {
    for (auto&& [key, value] : *modules) {
      std::string keyText(key.str());
      int node = nodeOfKey(keyText);
      if (node == 0) {
        found.push_back(entryLabel(keyText, 0) + " (" + lineWords(key.source()) +
                        "): not a module; the modules are 11, 12 and 13 (the fingers) and 14 "
                        "(the spread)");
        continue;
      }
      const toml::table* table = value.as_table();
      if (table == nullptr) {
        found.push_back(entryLabel(keyText, node) + " (" + lineWords(key.source()) +
                        "): not a table with file and sha256");
        continue;
      }
      SetEntry entry;
      size_t before = found.size();
      verifyEntry(path, keyText, node, *table, &entry, &found);
      if (found.size() == before) {
        set->entries.push_back(std::move(entry));
      }
    }
  }
  if (!found.empty()) {
    for (const std::string& problem : found) {
      problems->push_back(where + problem);
    }
    set->entries.clear();
    return SetReading::kRefused;
  }
  std::sort(set->entries.begin(), set->entries.end(),
            [](const SetEntry& a, const SetEntry& b) { return a.node < b.node; });
  return SetReading::kVerified;
}
