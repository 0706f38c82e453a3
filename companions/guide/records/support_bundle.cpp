#include "support_bundle.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <set>

#include "findings_output.h"
#include "image/firmware_file.h"
#include "interface_state.h"
#include "json_feed.h"
#include "preflight.h"
#include "record_file.h"
#include "sha256.h"
#include "tar_gzip.h"
#include "utc_time.h"

namespace {

using Json = nlohmann::ordered_json;

// Firmware files and logs are a few megabytes at most; a file beyond this is not one of them.
constexpr int64_t kMaxMemberBytes = 64 << 20;

// The last part of |path|, on either separator.
std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// |name| cut from the front to fit in |room| bytes of an archive's name.
std::string fitted(const std::string& name, size_t room) {
  return name.size() <= room ? name : name.substr(name.size() - room);
}

// Reads a regular file whole, opened as the tool opens a firmware file: never waiting on a FIFO
// or a device named where a file was expected.
bool readWhole(const std::string& path, std::string* bytes, std::string* why) {
  std::FILE* file = nullptr;
  int64_t size = 0;
  ImageError opened = openFirmwareFile(path.c_str(), &file, &size);
  if (opened != ImageError::kNone) {
    *why = opened == ImageError::kNotRegular ? "not a regular file" : "it cannot be opened";
    return false;
  }
  if (size > kMaxMemberBytes) {
    std::fclose(file);
    *why = "it is larger than 64 MiB";
    return false;
  }
  bytes->assign(static_cast<size_t>(size), '\0');
  size_t got = std::fread(bytes->data(), 1, bytes->size(), file);
  std::fclose(file);
  if (got != bytes->size()) {
    *why = "it could not be read to its end";
    return false;
  }
  return true;
}

std::string dumped(const Json& json) {
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// A program the guide runs: as the feed names it, with its size and SHA-256, which identify
// the build when no version can be known.
Json programFacts(const GuideSettings& settings, bool virtualHand) {
  Json object = feedProgram(settings, virtualHand);
  std::string path = object["path"].is_string() ? object["path"].get<std::string>() : "";
  std::string bytes;
  std::string why;
  bool read = !path.empty() && readWhole(path, &bytes, &why);
  object["size"] = read ? Json(bytes.size()) : Json(nullptr);
  object["sha256"] = read ? Json(sha256Hex(bytes)) : Json(nullptr);
  return object;
}

Json versionsOf(const BundleContents& contents) {
  Json object;
  object["guide_version"] = NODLETFLASH_VERSION;
  object["tool"] = programFacts(contents.settings, false);
  object["virtual_hand"] =
      contents.settings.rehearse ? programFacts(contents.settings, true) : Json(nullptr);
  return object;
}

std::string utcWords(std::chrono::system_clock::time_point at, const char* format) {
  std::tm utc = utcOf(at);
  char text[40];
  std::strftime(text, sizeof(text), format, &utc);
  return text;
}

}  // namespace

bool writeSupportBundle(const BundleContents& contents, std::string* why) {
  const std::string top = "nodletflash-support-" + utcWords(contents.ended, "%Y%m%dT%H%M%SZ") + "/";
  std::vector<ArchiveMember> members;
  std::vector<std::string> notes;
  auto add = [&](const std::string& name, std::string bytes) {
    members.push_back(ArchiveMember{top + name, std::move(bytes)});
  };

  add("versions.json", dumped(versionsOf(contents)));
  add("feed.jsonl", contents.feed);

  // Each log the run wrote, once: with --log every module's turn went to the same file.
  std::set<std::string> logs;
  for (const ModuleInfo& module : contents.modules) {
    if (!module.logPath.empty() && logs.insert(module.logPath).second) {
      std::string bytes;
      std::string unread;
      if (readWhole(module.logPath, &bytes, &unread)) {
        add("log/" + fitted(baseName(module.logPath), 60), std::move(bytes));
      } else {
        notes.push_back("The log " + module.logPath + " could not be read (" + unread + ").");
      }
    }
  }
  if (logs.empty()) {
    notes.push_back("The run wrote no log (--no-log, or no module's turn began).");
  }

  // This computer's set-up as nodletflash-check finds it now, without a frame sent or heard.
  PreflightOptions options;
  options.imageOnly = false;
  options.listenMs = 0;
  options.toolPath = contents.settings.toolPath;
  options.selfPath = contents.selfPath;
  PreflightResult computer;
  checkComputer(options, &computer);
  add("computer-checks.json", formatFindingsJson(computer) + "\n");

  // The firmware files by name, size and digest; themselves only when asked.
  Json files = Json::array();
  for (const ModuleInfo& module : contents.modules) {
    Json entry;
    entry["node"] = module.node != 0 ? Json(module.node) : Json(nullptr);
    entry["typed"] = module.nodeText;
    entry["file"] = module.path;
    entry["set"] = module.set.empty() ? Json(nullptr) : Json(module.set);
    std::string bytes;
    std::string unread;
    bool read = readWhole(module.path, &bytes, &unread);
    entry["size"] = read ? Json(bytes.size()) : Json(nullptr);
    entry["sha256"] = read ? Json(sha256Hex(bytes)) : Json(nullptr);
    entry["unreadable"] = read ? Json(nullptr) : Json(unread);
    if (read && contents.firmware) {
      std::string name = "firmware/" + module.nodeText + "-" + fitted(baseName(module.path), 60);
      entry["in_bundle"] = top + name;
      add(name, std::move(bytes));
    } else {
      entry["in_bundle"] = nullptr;
    }
    files.push_back(std::move(entry));
  }
  add("files.json", dumped(files));
  if (!contents.setFile.empty()) {
    std::string bytes;
    std::string unread;
    if (readWhole(contents.setFile, &bytes, &unread)) {
      add("set.toml", std::move(bytes));
    } else {
      notes.push_back("The set file " + contents.setFile + " could not be read (" + unread + ").");
    }
  }
  add("interface.txt", interfaceStateText());

  std::string readme =
      "A support bundle of nodletflash-guide " NODLETFLASH_VERSION ", written " +
      utcWords(contents.ended, "%Y-%m-%d %H:%M:%S UTC") +
      " at the end of a run that ended with status " + std::to_string(contents.status) +
      ".\n\n"
      "versions.json         the guide's version; the tool (and in a rehearsal the virtual hand) "
      "as found, with its size and SHA-256\n"
      "feed.jsonl            the run's JSON feed, every event (doc/supervising-programs.md)\n"
      "computer-checks.json  nodletflash-check's findings for this computer, made as the bundle "
      "was written, without listening to the bus\n" +
      std::string(logs.empty() ? "" : "log/                  the run's log, as written\n") +
      "files.json            each module's firmware file: name, size, SHA-256 as the bundle was "
      "written\n"
      "interface.txt         the network interfaces' state (ip -details -statistics link)\n" +
      std::string(contents.setFile.empty() ? ""
                                           : "set.toml              the hand's firmware set\n") +
      std::string(contents.firmware ? "firmware/             the firmware files themselves "
                                      "(--support-bundle-firmware)\n"
                                    : "The firmware files themselves are not in the bundle "
                                      "(--support-bundle-firmware puts them in).\n") +
      "The bundle holds no environment variables and no window token.\n";
  for (const std::string& note : notes) {
    readme += note + "\n";
  }
  members.insert(members.begin(), ArchiveMember{top + "README.txt", readme});

  std::string archive;
  std::string compressed;
  auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(contents.ended.time_since_epoch()).count();
  if (!tarArchive(members, seconds, &archive, why) || !gzipCompress(archive, &compressed, why)) {
    *why = contents.path + ": " + *why;
    return false;
  }
  return writeNewFile(contents.path, compressed, why);
}
