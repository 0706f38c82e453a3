// The support bundle: one file that holds what the hand's maker needs to understand a run of
// the guide, written at the run's end whatever the end. Nothing secret goes in: no environment,
// no window token, and the firmware files themselves only when asked.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "module_run.h"

/// What the bundle is made from.
struct BundleContents {
  std::string path;                 // where the bundle goes (--support-bundle)
  bool firmware = false;            // the firmware files themselves go in too
  int status = 0;                   // the guide's exit status
  GuideSettings settings;           // as the command line gave them
  std::string selfPath;             // argv[0], to find the tool beside the guide
  std::string feed;                 // the run's feed, one JSON object a line
  std::vector<ModuleInfo> modules;  // as the run ended (their logs named); none when refused
  std::string setFile;              // --set: the set file, which goes in; else empty
  std::chrono::system_clock::time_point ended;
};

/// The bundle's members: README.txt, versions.json, feed.jsonl, log/..., computer-checks.json,
/// files.json, interface.txt, set.toml with --set, firmware/... when asked; under one folder
/// named after the bundle's time.
bool writeSupportBundle(const BundleContents& contents, std::string* why);
