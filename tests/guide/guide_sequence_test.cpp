// nodletflash-guide over the virtual hand's every scenario, and over sequences of modules: what
// the feed and the view say of each module, and what is started.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "guide_runner.h"
#include "scenario.h"

namespace {

using nlohmann::json;

const std::string kTiny = std::string(EXAMPLES_DIR) + "/tiny.hex";

bool exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

std::vector<json> eventsNamed(const std::vector<json>& events, const std::string& name) {
  std::vector<json> out;
  for (const json& event : events) {
    if (event["event"] == name) {
      out.push_back(event);
    }
  }
  return out;
}

// The virtual hand's scenarios, with a count for those that take one.
std::vector<std::string> everyScenario() {
  std::vector<std::string> names;
  std::istringstream list(scenarioNames());
  std::string name;
  while (std::getline(list, name, ',')) {
    name.erase(0, name.find_first_not_of(' '));
    if (name.size() > 2 && name.compare(name.size() - 2, 2, "=N") == 0) {
      name.replace(name.size() - 1, 1, name.rfind("silent-from", 0) == 0 ? "480" : "100");
    } else if (name.size() > 2 && name.compare(name.size() - 2, 2, "=K") == 0) {
      name.replace(name.size() - 1, 1, "5");
    }
    names.push_back(name);
  }
  return names;
}

const std::vector<std::string> kStages{"checks", "starting", "power-cycle", "download", "closing"};

int stageIndex(const json& stage) {
  for (size_t i = 0; i < kStages.size(); ++i) {
    if (stage == kStages[i]) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

TEST(GuideFeed, EveryScenarioEndsWithWhatReachedTheModuleAndWhy) {
  std::vector<std::string> scenarios = everyScenario();
  ASSERT_GE(scenarios.size(), 20u);
  for (const std::string& scenario : scenarios) {
    SCOPED_TRACE(scenario);
    GuideRun run = runGuide({"--rehearse=" + scenario, "--sim=" + std::string(SIM_PATH),
                             "--sim-clock=virtual", "--json", "--no-log", "12", kTiny});
    // Each one checked against the writers' schema, and the feed as a whole.
    std::vector<json> events = jsonEvents(run.output);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[1]["event"], "module");
    const json& end = events[events.size() - 2];
    ASSERT_EQ(end["event"], "end");
    EXPECT_EQ(end["status"], run.status);
    EXPECT_EQ(events.back()["status"], run.status);
    EXPECT_FALSE(end["meaning"].get<std::string>().empty());
    int stage = stageIndex(end["stage"]);
    ASSERT_GE(stage, 1) << end;
    // No frame of the download goes out before it: the module holds what it had.
    if (stage < 3) {
      EXPECT_EQ(end["holds"], "unchanged") << end;
    }
    if (end["outcome"] == "done") {
      EXPECT_EQ(end["holds"], "written") << end;
      EXPECT_EQ(end["stage"], "closing") << end;
    }
    if (end["holds"] != "unchanged") {
      EXPECT_GE(stage, 3) << end;
    }
    // A failure without the tool's error still says why.
    if (end["outcome"] == "failed" && eventsNamed(events, "error").empty()) {
      EXPECT_NE(end["meaning"].get<std::string>().find("no error message"), std::string::npos)
          << end;
    }
    // The clock never claims to know the hand went off or came on.
    for (const json& step : eventsNamed(events, "power-cycle")) {
      if (step["source"] == "clock") {
        EXPECT_EQ(step["phase"], "asked") << step;
      }
      if (scenario == "never-powers-off") {
        EXPECT_NE(step["phase"], "hand-off") << step;
      }
    }
  }
}

TEST(GuideFeed, AStatusWithoutAnErrorLineIsExplainedByTheGuide) {
  GuideRun run = runGuide({"--rehearse=affinity-read-fails", "--sim=" + std::string(SIM_PATH),
                           "--sim-clock=virtual", "--no-log", "12", kTiny});
  EXPECT_EQ(run.status, 255);
  EXPECT_NE(run.output.find("failed, exit status 255"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("no error message: it could not raise its priority, pin itself to "
                            "one processor, or read either back"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("The download never began on the module"), std::string::npos);
}

TEST(GuideSequence, ADamagedThirdFileMeansNothingIsFlashed) {
  ScratchDir dir;
  std::string sim = recordingSim(dir.path);
  std::string damaged = dir.path + "/badsum.hex";
  {
    std::ifstream in(kTiny, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t second = text.find('%', 1);
    text[second + 4] = text[second + 4] == '0' ? '1' : '0';
    std::ofstream(damaged, std::ios::binary) << text;
  }
  for (bool force : {false, true}) {
    std::vector<std::string> args{"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--json",
                                  "--no-log"};
    if (force) {
      args.push_back("--force");
    }
    args.insert(args.end(), {"11", kTiny, "12", kTiny, "13", damaged, "14", kTiny});
    GuideRun run = runGuide(args);
    EXPECT_EQ(run.status, 1);
    std::vector<json> ends = eventsNamed(jsonEvents(run.output), "end");
    ASSERT_EQ(ends.size(), 4u);
    for (size_t i = 0; i < ends.size(); ++i) {
      EXPECT_EQ(ends[i]["outcome"], i == 2 ? "refused" : "skipped") << ends[i];
      EXPECT_EQ(ends[i]["holds"], "unchanged");
    }
    EXPECT_TRUE(fileLines(dir.path + "/started").empty());
  }
}

TEST(GuideSequence, ForceOverridesTheComputersProblemsAndTheEndNamesThem) {
  ScratchDir dir;
  // A stand-in for the tool that goes through a whole download.
  std::string tool = writeScript(dir.path, "nodletflash",
                                 "touch '" + dir.path +
                                     "/ran'\n"
                                     "echo 'Starting download of firmware '\"$2\"' to Finger 2 "
                                     "(nodlet 12)...'\n"
                                     "echo DOWNPROG100.000000\n"
                                     "echo 'Download complete!'\n"
                                     "echo 'Program ended successfully.'\n");
  std::vector<std::string> args{"--json",         "--no-log", "--listen-ms=0",
                                "--tool=" + tool, "12",       kTiny};
  GuideRun refused = runGuide(args);
  std::vector<json> ends = eventsNamed(jsonEvents(refused.output), "end");
  ASSERT_EQ(ends.size(), 1u);
  if (ends[0]["outcome"] != "refused") {
    GTEST_SKIP() << "this computer's CAN set-up has no problem to override";
  }
  EXPECT_EQ(refused.status, 1);
  EXPECT_FALSE(exists(dir.path + "/ran"));

  args.insert(args.begin(), "--force");
  GuideRun forced = runGuide(args);
  EXPECT_EQ(forced.status, 0) << forced.output;
  EXPECT_TRUE(exists(dir.path + "/ran"));
  ends = eventsNamed(jsonEvents(forced.output), "end");
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0]["outcome"], "done");
  ASSERT_FALSE(ends[0]["overridden"].empty());
  EXPECT_NE(ends[0]["meaning"].get<std::string>().find("with --force overriding"),
            std::string::npos)
      << ends[0];
}

// Status 0 alone does not make a module done: the tool says the download completed first.
TEST(GuideSequence, AProgramThatEndsWellWithoutTheDownloadLeavesTheModuleNotDone) {
  ScratchDir dir;
  std::string tool = writeScript(dir.path, "nodletflash", "exit 0\n");
  GuideRun run =
      runGuide({"--json", "--no-log", "--listen-ms=0", "--force", "--tool=" + tool, "12", kTiny});
  EXPECT_EQ(run.status, 1);
  std::vector<json> ends = eventsNamed(jsonEvents(run.output), "end");
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0]["outcome"], "failed");
  EXPECT_EQ(ends[0]["status"], 0);
  EXPECT_EQ(ends[0]["holds"], "unchanged");
  EXPECT_NE(ends[0]["meaning"].get<std::string>().find("never said that the download completed"),
            std::string::npos)
      << ends[0];
}

TEST(GuideSequence, MistakesOnTheCommandLineAreRefusedBeforeAnythingStarts) {
  ScratchDir dir;
  std::string sim = recordingSim(dir.path);
  // The same module twice, typed alike or not.
  for (std::string again : {"12", "+12"}) {
    GuideRun run = runGuide({"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--no-log", "12",
                             kTiny, "13", kTiny, again, kTiny});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.output.empty()) << run.output;
  }
  // A scenario the virtual hand does not have: not even the checks run.
  GuideRun bogus = runGuide({"--rehearse=bogus", "--sim=" + sim, "--no-log", "12", kTiny});
  EXPECT_EQ(bogus.status, 2);
  EXPECT_TRUE(bogus.output.empty()) << bogus.output;
  EXPECT_TRUE(fileLines(dir.path + "/started").empty());
  // Asked for, the feed still begins and ends, with the reason, and nothing in between.
  struct Mistake {
    std::vector<std::string> args;
    std::string reason;
  };
  const Mistake mistakes[] = {
      {{"--json", "--rehearse", "--sim=" + sim, "12", kTiny, "+12", kTiny},
       "module 12 is named twice (as \"12\" and \"+12\"); name each module once"},
      {{"--json", "--bogus", "12", kTiny}, "The following argument was not expected: --bogus"},
      {{"--json", "--window", "12", kTiny}, "--window and --json exclude each other"},
  };
  for (const Mistake& mistake : mistakes) {
    GuideRun run = runGuide(mistake.args);
    EXPECT_EQ(run.status, 2);
    std::vector<json> events = jsonEvents(run.output);
    ASSERT_EQ(events.size(), 2u) << run.output;
    EXPECT_EQ(events[0]["event"], "run");
    EXPECT_EQ(events[0]["arguments"], json(mistake.args));
    EXPECT_EQ(events[1]["event"], "run-end");
    EXPECT_EQ(events[1]["status"], 2);
    EXPECT_EQ(events[1]["usage_error"], mistake.reason);
  }
  EXPECT_TRUE(fileLines(dir.path + "/started").empty());
  // --help lists the scenarios.
  GuideRun help = runGuide({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("data-write-fails-at=N"), std::string::npos) << help.output;
}

TEST(GuideSequence, AFileNameThatCouldPassForAMessageIsRefusedBeforeAnything) {
  ScratchDir dir;
  std::string sim = recordingSim(dir.path);
  // The tool echoes the name: this one would print a line of its own, tagged as its error.
  std::string forged = dir.path + "/nl\nERRORinjected.hex";
  {
    std::ifstream in(kTiny, std::ios::binary);
    std::ofstream(forged, std::ios::binary) << in.rdbuf();
  }
  for (std::vector<std::string> face :
       std::vector<std::vector<std::string>>{{"--json"}, {}, {"--window", "--no-browser"}}) {
    std::vector<std::string> args{"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--no-log"};
    args.insert(args.end(), face.begin(), face.end());
    args.insert(args.end(), {"12", kTiny, "13", forged});
    GuideRun run = runGuide(args);
    EXPECT_EQ(run.status, 2) << run.output;
    if (face.empty() || face[0] != "--json") {
      EXPECT_TRUE(run.output.empty()) << run.output;
      continue;
    }
    // The feed begins and ends with the reason, the name escaped there too.
    std::vector<json> events = jsonEvents(run.output);
    ASSERT_EQ(events.size(), 2u) << run.output;
    EXPECT_EQ(events[1]["event"], "run-end");
    EXPECT_NE(events[1]["usage_error"].get<std::string>().find("/nl\\nERRORinjected.hex"),
              std::string::npos)
        << run.output;
  }
  EXPECT_TRUE(fileLines(dir.path + "/started").empty());
  // What the person is told, on standard error: the name escaped, on one line.
  std::string command =
      std::string("'") + GUIDE_PATH + "' --no-log 12 '" + forged + "' 2>&1 >/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string said;
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) {
    said += buffer;
  }
  EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 2);
  EXPECT_EQ(said, "nodletflash-guide: the firmware file's name \"" + dir.path +
                      "/nl\\nERRORinjected.hex\" holds a control character (\\n), which could "
                      "pass for a line or a message of its own wherever the name is shown or "
                      "printed; rename the file and give it again\n");
}

TEST(GuideSequence, TheManualPageListsEveryScenarioTheGuideTakes) {
  std::ifstream in(std::string(SOURCE_DIR) + "/doc/nodletflash-guide.1.scd");
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(page.empty());
  std::istringstream list(scenarioNames());
  for (std::string name; std::getline(list, name, ',');) {
    name.erase(0, name.find_first_not_of(' '));
    size_t equals = name.find('=');
    // "*normal*", or "*silent-from=*_N_".
    std::string shown = equals == std::string::npos ? "*" + name + "*"
                                                    : "*" + name.substr(0, equals + 1) + "*_" +
                                                          name.substr(equals + 1) + "_";
    EXPECT_NE(page.find(shown), std::string::npos) << shown;
  }
}

TEST(GuideSequence, TheViewSaysOnePowerCycleLinksModulesAndHowToFlashTheRest) {
  ScratchDir dir;
  GuideRun run = runGuideWatching(
      {"--rehearse=normal", "--sim=" + std::string(SIM_PATH), "--sim-clock=virtual",
       "--log=" + dir.path + "/run.log", "11", kTiny, "14", kTiny},
      [](const std::string&, pid_t) {});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("4 records, 96 data bytes, 248 characters to send"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("One power cycle completes module 11 (Finger 1) and starts module "
                            "14 (Spread)"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("  Log: " + dir.path + "/run.log"), std::string::npos);

  // A stop at the first module: the command for the rest names both, with the options given.
  GuideRun failed = runGuide({"--rehearse=never-answers", "--sim=" + std::string(SIM_PATH),
                              "--sim-clock=virtual", "--no-log", "11", kTiny, "14", kTiny});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.output.find(std::string(" --rehearse=never-answers --sim=") + SIM_PATH +
                               " --sim-clock=virtual --no-log 11 " + kTiny + " 14 " + kTiny + "\n"),
            std::string::npos)
      << failed.output;
}

// On the real clock, where the second module's power cycle comes long after the guide started:
// its deadlines are on the feed's own clock, counted from its own instruction.
TEST(GuideFeed, EachPowerCycleIsOnTheFeedsClockAndOneIsSharedBetweenModules) {
  GuideRun run = runGuide({"--rehearse", "--sim=" + std::string(SIM_PATH), "--json", "--no-log",
                           "11", kTiny, "14", kTiny});
  ASSERT_EQ(run.status, 0) << run.output;
  std::vector<json> events = jsonEvents(run.output);
  double instructionAt = -1;
  double firstEnd = -1;
  std::vector<double> asked;
  std::vector<std::string> order;
  for (const json& event : events) {
    std::string name = event["event"];
    if (name == "instruction" &&
        event["text"].get<std::string>().rfind("Please power off", 0) == 0) {
      instructionAt = event["t"];
    } else if (name == "power-cycle") {
      EXPECT_EQ(event["instruction_t"], instructionAt) << event;
      if (event["phase"] == "asked") {
        asked.push_back(instructionAt);
        EXPECT_EQ(event["off_by_t"], std::round((instructionAt + 50) * 1000) / 1000) << event;
        EXPECT_EQ(event["on_by_t"], std::round((instructionAt + 75) * 1000) / 1000) << event;
      } else {
        EXPECT_GE(event["at_t"].get<double>(), instructionAt) << event;
      }
    } else if (name == "end" && firstEnd < 0) {
      firstEnd = event["t"];
    }
    if (name == "shared-power-cycle" || name == "module" || name == "end") {
      order.push_back(name + " " + event["module"].dump());
    }
  }
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_GT(asked[1], firstEnd);
  EXPECT_EQ(order, (std::vector<std::string>{"module 11", "end 11", "shared-power-cycle 14",
                                             "module 14", "end 14"}));
  for (const json& event : eventsNamed(events, "shared-power-cycle")) {
    EXPECT_EQ(event["completes"], 11);
  }
}

TEST(GuideSequence, ALogIsNeverOverwrittenAndOneThatCannotBeMadeStopsTheModule) {
  ScratchDir dir;
  std::string log = dir.path + "/run.log";
  std::vector<std::string> args{"--rehearse",
                                "--sim=" + std::string(SIM_PATH),
                                "--sim-clock=virtual",
                                "--json",
                                "--log=" + log,
                                "12",
                                kTiny};
  ASSERT_EQ(runGuide(args).status, 0);
  size_t first = fileLines(log).size();
  ASSERT_EQ(runGuide(args).status, 0);
  std::vector<std::string> both = fileLines(log);
  ASSERT_EQ(both.size(), 2 * first);
  EXPECT_NE(both[first].find("nodletflash-guide log: module 12"), std::string::npos);

  ScratchDir other;
  std::string sim = recordingSim(other.path);
  std::string nowhere = dir.path + "/no-such-directory/run.log";
  GuideRun run = runGuide({"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--json",
                           "--log=" + nowhere, "12", kTiny});
  EXPECT_EQ(run.status, 1);
  std::vector<json> ends = eventsNamed(jsonEvents(run.output), "end");
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0]["outcome"], "not-started");
  EXPECT_NE(
      ends[0]["meaning"].get<std::string>().find(nowhere + " cannot be created: No such file or "
                                                           "directory"),
      std::string::npos)
      << ends[0];
  EXPECT_TRUE(fileLines(other.path + "/started").empty());
}

}  // namespace

namespace {

std::string rehearsalRecordPath() {
  return guideStateHome() + "/nodletflash/rehearsals.json";
}

json recordOf(const std::string& path) {
  std::ifstream in(path);
  return json::parse(in, nullptr, false);
}

std::vector<std::string> rehearsing(const std::string& scenario, std::vector<std::string> rest) {
  std::vector<std::string> args{"--rehearse=" + scenario, "--sim=" + std::string(SIM_PATH),
                                "--sim-clock=virtual"};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

}  // namespace

TEST(GuideRecord, APartWayModuleIsToldAtTheNextStartAndAtItsEndUntilItIsWrittenWhole) {
  ScratchDir dir;
  std::filesystem::remove(rehearsalRecordPath());
  GuideRun partWay =
      runGuide(rehearsing("data-write-fails-at=100", {"--json", "--no-log", "13", kTiny}));
  ASSERT_EQ(partWay.status, 1);
  json record = recordOf(rehearsalRecordPath());
  ASSERT_TRUE(record.is_object()) << record;
  EXPECT_EQ(record["modules"]["13"]["holds"], "part-way") << record;
  EXPECT_EQ(record["modules"]["13"]["file"], kTiny);
  EXPECT_EQ(record["modules"]["13"]["sha256"].get<std::string>().size(), 64u);
  // A rehearsal keeps a record of its own: the real hand's is never written by one.
  EXPECT_FALSE(exists(guideStateHome() + "/nodletflash/modules.json"));

  // The next run ends before the download (the hand never switched off): its start and its end
  // say what this computer left in the module, and that it is this computer's word.
  std::string log = dir.path + "/second.log";
  GuideRun second = runGuide(rehearsing("never-powers-off", {"--log=" + log, "13", kTiny}));
  EXPECT_EQ(second.status, 1);
  const std::string note =
      "Module 13 (Finger 3) was left part-way by a rehearsal on this computer at ";
  size_t told = second.output.find(note);
  ASSERT_NE(told, std::string::npos) << second.output;
  EXPECT_LT(told, second.output.find("Module 13 (Finger 3): " + kTiny));
  EXPECT_NE(second.output.find("flash it completely before the hand is used. This is this "
                               "computer's record of its rehearsals"),
            std::string::npos);
  size_t end = second.output.find("Module 13 (Finger 3): failed");
  ASSERT_NE(end, std::string::npos) << second.output;
  EXPECT_NE(second.output.find("it holds what it held before this turn. " + note, end),
            std::string::npos)
      << second.output;
  EXPECT_EQ(second.output.find("as it was"), std::string::npos);
  std::string logText;
  for (const std::string& line : fileLines(log)) {
    logText += line + "\n";
  }
  EXPECT_NE(logText.find("record before: this computer's record of the module: part-way"),
            std::string::npos)
      << logText;
  EXPECT_NE(logText.find("record: this computer's record of the module: part-way"),
            std::string::npos);
  EXPECT_NE(logText.find("holds unchanged"), std::string::npos);
  EXPECT_EQ(recordOf(rehearsalRecordPath())["modules"]["13"]["holds"], "part-way");

  // Flashed whole: the record says so, and the next start has nothing to tell.
  ASSERT_EQ(runGuide(rehearsing("normal", {"--no-log", "13", kTiny})).status, 0);
  EXPECT_EQ(recordOf(rehearsalRecordPath())["modules"]["13"]["holds"], "written");
  GuideRun after = runGuide(rehearsing("never-answers", {"--no-log", "13", kTiny}));
  EXPECT_EQ(after.output.find("was left"), std::string::npos) << after.output;
}

TEST(GuideRecord, AFailureAtTheFirstCharacterSaysMayBeErasedEverywhere) {
  ScratchDir dir;
  std::filesystem::remove(rehearsalRecordPath());
  std::string log = dir.path + "/run.log";
  GuideRun run = runGuide(rehearsing("data-write-fails-at=1", {"--log=" + log, "12", kTiny}));
  EXPECT_EQ(run.status, 1);
  size_t end = run.output.find("Module 12 (Finger 2): failed");
  ASSERT_NE(end, std::string::npos) << run.output;
  EXPECT_NE(run.output.find("its firmware may be erased", end), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("part-way"), std::string::npos) << run.output;
  std::string logText;
  for (const std::string& line : fileLines(log)) {
    logText += line + "\n";
  }
  EXPECT_NE(logText.find("holds may-be-erased, 0 characters sent"), std::string::npos) << logText;
  EXPECT_EQ(recordOf(rehearsalRecordPath())["modules"]["12"]["holds"], "may-be-erased");
  GuideRun next = runGuide(rehearsing("never-answers", {"--no-log", "12", kTiny}));
  EXPECT_NE(next.output.find("Module 12 (Finger 2) may have been left erased by a rehearsal on "
                             "this computer"),
            std::string::npos)
      << next.output;
}

TEST(GuideRecord, ADamagedOrUnwritableRecordIsAWarningAndTheRunGoesOn) {
  std::string folder = guideStateHome() + "/nodletflash";
  std::filesystem::create_directories(folder);
  std::ofstream(rehearsalRecordPath()) << "{\"version\":1,\"modules\":{\"12\":";
  GuideRun damaged = runGuide(rehearsing("normal", {"--no-log", "12", kTiny}));
  EXPECT_EQ(damaged.status, 0) << damaged.output;
  EXPECT_NE(
      damaged.output.find("warning: this computer's record of what it wrote to the modules (" +
                          rehearsalRecordPath() + ") is damaged"),
      std::string::npos)
      << damaged.output;
  // Written anew, whole.
  EXPECT_EQ(recordOf(rehearsalRecordPath())["modules"]["12"]["holds"], "written");

  // The record's folder is a file: nothing can be read or written there, whoever runs the test.
  std::filesystem::remove_all(folder);
  std::ofstream(folder) << "not a folder";
  GuideRun unwritable = runGuide(rehearsing("data-write-fails-at=100", {"--no-log", "12", kTiny}));
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.output.find("warning: this computer's record of what it wrote to the "
                                   "modules (" +
                                   rehearsalRecordPath() + ") cannot be read"),
            std::string::npos)
      << unwritable.output;
  EXPECT_NE(unwritable.output.find("warning: this computer's record of module 12 (Finger 2) could "
                                   "not be updated"),
            std::string::npos)
      << unwritable.output;
  EXPECT_NE(unwritable.output.find("stopped part-way"), std::string::npos);
  std::filesystem::remove(folder);
}
