// nodletflash-check: looks at a firmware file and this computer's CAN set-up before a nodlet is
// flashed. Exit status 0: nothing found that would stop a good download; 1: something would;
// 2: the command line was wrong.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "findings_output.h"
#include "preflight.h"

namespace {

constexpr int kUsageError = 2;

int run(int argc, char** argv) {
  PreflightOptions options;
  bool json = false;
  CLI::App app{"Checks a firmware file and this computer's CAN set-up before a nodlet is flashed.",
               "nodletflash-check"};
  app.add_option("nodletNumber", options.nodeText, "the node to flash, 11 to 14")->required();
  app.add_option("filename", options.path, "the firmware file (Extended Tektronix Hex)")
      ->required();
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
