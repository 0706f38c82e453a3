// nodletflash-check: looks at a firmware file and this computer's CAN set-up before a nodlet is
// flashed. Exit status 0: nothing found that would stop a good download; 1: something would;
// 2: the command line was wrong.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "file_name.h"
#include "findings_output.h"
#include "firmware_set.h"
#include "preflight.h"

namespace {

constexpr int kUsageError = 2;

// A hand's firmware set: every entry verified, then each entry's file checked as a file named
// on the command line is, with this computer's findings (made once) in each.
int checkSet(const PreflightOptions& options, const std::string& setPath, bool json) {
  FirmwareSet set;
  std::vector<std::string> problems;
  SetReading reading = readFirmwareSet(setPath, &set, &problems);
  nlohmann::json out;
  out["set"] = {{"name", set.name.empty() ? nlohmann::json(nullptr) : nlohmann::json(set.name)},
                {"file", setPath}};
  if (reading != SetReading::kVerified) {
    out["set_problems"] = problems;
    out["modules"] = nullptr;
    std::string text;
    for (const std::string& problem : problems) {
      text += "problem set: " + problem + "\n";
    }
    text += "result: the set is refused whole: flash nothing from it\n";
    std::string shown =
        json ? out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n" : text;
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fflush(stdout);
    return setReadingStatus(reading);
  }
  PreflightResult computer;
  if (!options.imageOnly) {
    checkComputer(options, &computer);
  }
  bool problem = false;
  std::string text = "set \"" + escapedText(set.name) + "\" (" + escapedText(setPath) +
                     "): " + std::to_string(set.entries.size()) +
                     (set.entries.size() == 1 ? " module" : " modules") +
                     ", each file's SHA-256 as the set gives it\n";
  out["set_problems"] = nullptr;
  out["modules"] = nlohmann::json::array();
  for (const SetEntry& entry : set.entries) {
    PreflightResult result = checkNodeAndImage(entry.nodeText, entry.path);
    result.findings.insert(result.findings.end(), computer.findings.begin(),
                           computer.findings.end());
    problem = problem || hasProblem(result);
    text += "\nmodule " + entry.nodeText + ", " + escapedText(entry.path) + ":\n" +
            formatFindings(result);
    nlohmann::json module = nlohmann::json::parse(formatFindingsJson(result));
    module["file"] = entry.path;
    module["sha256"] = entry.sha256;
    out["modules"].push_back(std::move(module));
  }
  std::string shown =
      json ? out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n" : text;
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  std::fflush(stdout);
  return problem ? 1 : 0;
}

int run(int argc, char** argv) {
  PreflightOptions options;
  bool json = false;
  std::string setPath;
  CLI::App app{"Checks a firmware file and this computer's CAN set-up before a nodlet is flashed.",
               "nodletflash-check"};
  CLI::Option* node =
      app.add_option("nodletNumber", options.nodeText, "the node to flash, 11 to 14");
  CLI::Option* file =
      app.add_option("filename", options.path, "the firmware file (Extended Tektronix Hex)");
  CLI::Option* set = app.add_option("--set", setPath,
                                    "check every module of a hand's firmware set (a TOML file) "
                                    "instead of one node and file");
  set->excludes(node)->excludes(file);
  app.add_flag("--json", json, "write the findings as one JSON object");
  app.add_flag("--image-only", options.imageOnly, "check the file only, not this computer");
  app.add_option("--listen-ms", options.listenMs, "how long to listen to the bus; 0 skips it")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();
  app.add_option("--tool", options.toolPath,
                 "the nodletflash to check (default: next to this program, then PATH)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app.exit(error);
    return status == 0 ? 0 : kUsageError;
  }
  options.selfPath = argc > 0 ? argv[0] : "";
  if (!setPath.empty()) {
    return checkSet(options, setPath, json);
  }
  if (node->count() == 0 || file->count() == 0) {
    std::fprintf(stderr,
                 "nodletNumber and filename are required (or --set)\n"
                 "Run with --help for more information.\n");
    return kUsageError;
  }
  PreflightResult result = runPreflight(options);
  std::string out = json ? formatFindingsJson(result) : formatFindings(result);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return hasProblem(result) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    // Out of memory, or a fault of this program: no verdict can be given.
    std::fprintf(stderr, "nodletflash-check: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "nodletflash-check: unexpected failure\n");
  }
  return 1;
}
