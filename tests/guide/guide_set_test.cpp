// nodletflash-guide with a hand's firmware set (--set) and a support bundle (--support-bundle):
// a set with any fault is refused whole before anything starts, a good one runs its modules in
// the order of their nodes under its name, and the bundle holds what support needs and nothing
// secret, whatever the run's end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "guide_runner.h"
#include "sha256.h"

namespace {

using nlohmann::json;

const std::string kTiny = std::string(EXAMPLES_DIR) + "/tiny.hex";

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A set of Finger 2 and the spread, both with a copy of tiny.hex beside the set file, the
// spread first in the file; |extra| is added at its end.
std::string twoModuleSet(const std::string& dir, const std::string& extra = "") {
  std::ifstream in(kTiny, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  writeFile(dir + "/f2.hex", bytes.str());
  writeFile(dir + "/spread.hex", bytes.str());
  std::string digest = sha256Hex(bytes.str());
  std::string upper = digest;
  for (char& c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return "name = \"hand release 4.2\"\n"
         "[modules.14]\nfile = \"spread.hex\"\nsha256 = \"" +
         upper + "\"\n[modules.12]\nfile = \"f2.hex\"  # beside the set\nsha256 = \"" + digest +
         "\"\n" + extra;
}

std::vector<std::string> rehearsal(const std::string& sim) {
  return {"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--json", "--no-log"};
}

// What the shell command |command| printed on standard output.
std::string outputOf(const std::string& command) {
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  if (pipe == nullptr) {
    return out;
  }
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    out.append(buffer, got);
  }
  pclose(pipe);
  return out;
}

TEST(GuideSet, AnyFaultRefusesTheWholeSetBeforeAnythingStarts) {
  struct Case {
    std::string what;
    std::string edit;  // applied to the good set's text: "" keeps it
    int status;
    std::string said;
  };
  ScratchDir dir;
  std::string good = twoModuleSet(dir.path);
  std::string otherDigest = sha256Hex(std::string(good.size(), 'x'));  // a digest of other bytes
  std::vector<Case> cases{
      {"a wrong digest", "[modules.13]\nfile = \"f2.hex\"\nsha256 = \"" + otherDigest + "\"\n", 1,
       "module 13 (Finger 3): its file f2.hex has SHA-256 "},
      {"a missing file", "[modules.11]\nfile = \"gone.hex\"\nsha256 = \"" + otherDigest + "\"\n", 1,
       "module 11 (Finger 1): its file gone.hex cannot be read"},
      {"a module named twice",
       "[modules.12]\nfile = \"f2.hex\"\nsha256 = \"" + otherDigest + "\"\n", 1,
       "module 12 (Finger 2) is named twice (lines 5 and 8)"},
      {"an unknown key in an entry",
       "[modules.11]\nfile = \"f2.hex\"\nsha256 = \"" + otherDigest + "\"\nforce = true\n", 1,
       "module 11 (Finger 1): unknown key \"force\""},
      {"an unknown node", "[modules.15]\nfile = \"f2.hex\"\nsha256 = \"" + otherDigest + "\"\n", 1,
       "the entry [modules.15] (line 8): not a module"},
      {"text that is not TOML", "[modules.11\n", 2, "not TOML (line 8"},
  };
  for (const Case& each : cases) {
    ScratchDir run;
    std::string set = run.path + "/hand.toml";
    twoModuleSet(run.path);
    writeFile(set, good + each.edit);
    std::vector<std::string> args = rehearsal(recordingSim(run.path));
    args.push_back("--set=" + set);
    GuideRun guide = runGuide(args);
    EXPECT_EQ(guide.status, each.status) << each.what << "\n" << guide.output;
    std::vector<json> events = jsonEvents(guide.output);
    ASSERT_EQ(events.size(), 2u) << each.what << ": only the run and its end\n" << guide.output;
    std::string problems;
    for (const json& problem : events.back()["set_problems"]) {
      problems += problem.get<std::string>() + "\n";
    }
    EXPECT_NE(problems.find(each.said), std::string::npos) << each.what << ": " << problems;
    EXPECT_EQ(events.front()["set"]["file"], set) << each.what;
    EXPECT_NE(access((run.path + "/started").c_str(), F_OK), 0) << each.what << ": started";
  }
  // A key of the set's own it does not know: refused too, and modules on the command line
  // beside a set are a mistake of the command line.
  writeFile(dir.path + "/hand.toml", "colour = \"blue\"\n" + good);
  std::vector<std::string> args = rehearsal(recordingSim(dir.path));
  args.push_back("--set=" + dir.path + "/hand.toml");
  GuideRun unknown = runGuide(args);
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.output.find("unknown key \\\"colour\\\" (line 1)"), std::string::npos)
      << unknown.output;
  args.insert(args.end(), {"12", kTiny});
  EXPECT_EQ(runGuide(args).status, 2);
  EXPECT_NE(access((dir.path + "/started").c_str(), F_OK), 0);
}

TEST(GuideSet, AGoodSetRunsItsModulesInNodeOrderUnderItsName) {
  ScratchDir dir;
  std::string set = dir.path + "/hand.toml";
  writeFile(set, twoModuleSet(dir.path));
  std::string log = dir.path + "/update.log";
  GuideRun guide = runGuide({"--rehearse", "--sim=" + std::string(SIM_PATH), "--sim-clock=virtual",
                             "--json", "--log=" + log, "--set=" + set});
  ASSERT_EQ(guide.status, 0) << guide.output;
  std::vector<json> events = jsonEvents(guide.output);
  const json& run = events.front();
  EXPECT_EQ(run["set"]["name"], "hand release 4.2");
  ASSERT_EQ(run["modules"].size(), 2u);
  EXPECT_EQ(run["modules"][0]["node"], 12);
  EXPECT_EQ(run["modules"][1]["node"], 14);
  int ends = 0;
  for (const json& event : events) {
    if (event["event"] == "end") {
      ++ends;
      EXPECT_EQ(event["record"]["set"], "hand release 4.2") << event.dump();
    }
  }
  EXPECT_EQ(ends, 2);
  std::string logText;
  for (const std::string& line : fileLines(log)) {
    logText += line + "\n";
  }
  EXPECT_NE(logText.find("firmware set: hand release 4.2"), std::string::npos) << logText;
  // This computer's record keeps the set's name with each module.
  std::vector<std::string> record = fileLines(guideStateHome() + "/nodletflash/rehearsals.json");
  std::string recordText;
  for (const std::string& line : record) {
    recordText += line + "\n";
  }
  EXPECT_NE(recordText.find("\"set\": \"hand release 4.2\""), std::string::npos) << recordText;
}

// A set's file changed while an earlier module was flashed (here by the first power cycle's off
// command) is refused at its own turn: the set vouches for the bytes it verified, not for whatever
// the file holds minutes later.
TEST(GuideSet, AFileChangedDuringTheRunIsRefusedAtItsTurn) {
  ScratchDir dir;
  std::string set = dir.path + "/hand.toml";
  writeFile(set, twoModuleSet(dir.path));
  std::string sim = SIM_PATH;
  GuideRun guide = runGuide({"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--json",
                             "--no-log", "--set=" + set,
                             "--power-off=sh -c 'printf x >> \"$0\" && exec \"$1\" --switch=off' " +
                                 dir.path + "/spread.hex " + sim,
                             "--power-on=" + sim + " --switch=on"});
  EXPECT_EQ(guide.status, 1) << guide.output;
  std::vector<std::string> results;
  bool told = false;
  for (const json& event : jsonEvents(guide.output)) {
    if (event["event"] == "end") {
      results.push_back(event["outcome"].get<std::string>());
    }
    if (event["event"] == "check" && event["module"] == 14 &&
        event["text"].get<std::string>().find("has changed since the set was verified") !=
            std::string::npos) {
      told = true;
    }
  }
  EXPECT_EQ(results, (std::vector<std::string>{"done", "refused"})) << guide.output;
  EXPECT_TRUE(told) << guide.output;
}

TEST(GuideBundle, HoldsWhatSupportNeedsAndNoSecretWhateverTheEnd) {
  ScratchDir dir;
  const std::string secret = "bundle-test-secret-6c1f";
  setenv("NODLETFLASH_BUNDLE_TEST_SECRET", secret.c_str(), 1);
  std::string bundle = dir.path + "/support.tar.gz";
  // A link planted where the bundle goes is replaced, never written through.
  std::string target = dir.path + "/elsewhere";
  ASSERT_EQ(symlink(target.c_str(), bundle.c_str()), 0);
  GuideRun failed =
      runGuide({"--rehearse=never-answers", "--sim=" + std::string(SIM_PATH), "--sim-clock=virtual",
                "--log=" + dir.path + "/run.log", "--support-bundle=" + bundle, "12", kTiny});
  EXPECT_NE(failed.status, 0);
  unsetenv("NODLETFLASH_BUNDLE_TEST_SECRET");
  EXPECT_NE(access(target.c_str(), F_OK), 0) << "written through the link";
  struct stat status {};
  ASSERT_EQ(lstat(bundle.c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  std::string listing = outputOf("tar -tzf '" + bundle + "'");
  for (const char* member : {"/README.txt", "/versions.json", "/feed.jsonl", "/log/run.log",
                             "/computer-checks.json", "/files.json", "/interface.txt"}) {
    EXPECT_NE(listing.find(member), std::string::npos) << member << " in\n" << listing;
  }
  EXPECT_EQ(listing.find("firmware/"), std::string::npos) << listing;
  std::string contents = outputOf("tar -xzOf '" + bundle + "'");
  EXPECT_EQ(contents.find(secret), std::string::npos);
  EXPECT_EQ(contents.find("NODLETFLASH_BUNDLE_TEST_SECRET"), std::string::npos);
  // The feed was kept without --json, from its first event to its last.
  std::string feed = outputOf("tar -xzOf '" + bundle + "' --wildcards '*/feed.jsonl'");
  std::vector<json> events = jsonEvents(feed);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["event"], "run-end");
  EXPECT_EQ(events.back()["status"], failed.status);
  json files = json::parse(outputOf("tar -xzOf '" + bundle + "' --wildcards '*/files.json'"),
                           nullptr, false);
  ASSERT_TRUE(files.is_array());
  EXPECT_EQ(files[0]["sha256"], sha256File(kTiny, nullptr));

  // A refused set still leaves its bundle, with the set file; asked, the firmware goes in too.
  std::string set = dir.path + "/hand.toml";
  writeFile(set, twoModuleSet(dir.path, "[modules.11]\nfile = \"missing.hex\"\n"));
  std::string refusedBundle = dir.path + "/refused.tar.gz";
  GuideRun refused = runGuide({"--rehearse", "--sim=" + std::string(SIM_PATH), "--no-log",
                               "--set=" + set, "--support-bundle=" + refusedBundle});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(outputOf("tar -tzf '" + refusedBundle + "'").find("/set.toml"), std::string::npos);
  writeFile(set, twoModuleSet(dir.path));
  std::string doneBundle = dir.path + "/done.tar.gz";
  GuideRun done =
      runGuide({"--rehearse", "--sim=" + std::string(SIM_PATH), "--sim-clock=virtual", "--no-log",
                "--set=" + set, "--support-bundle=" + doneBundle, "--support-bundle-firmware"});
  EXPECT_EQ(done.status, 0) << done.output;
  std::string withFirmware = outputOf("tar -tzf '" + doneBundle + "'");
  EXPECT_NE(withFirmware.find("/firmware/12-f2.hex"), std::string::npos) << withFirmware;
  EXPECT_NE(withFirmware.find("/firmware/14-spread.hex"), std::string::npos) << withFirmware;

  // Stopped by Ctrl-C while the tool runs: the bundle is still written, its feed to the end.
  std::string hand = writeScript(dir.path, "stand-in-sim",
                                 "trap 'kill $idle; exit 130' INT\nsleep 60 >/dev/null 2>&1 &\n"
                                 "idle=$!\necho 'Loading firmware file...'\nwait $idle\n");
  std::string stoppedBundle = dir.path + "/stopped.tar.gz";
  bool sent = false;
  GuideRun stopped = runGuideWatching(
      {"--rehearse", "--sim=" + hand, "--no-log", "--support-bundle=" + stoppedBundle, "12", kTiny},
      [&](const std::string& output, pid_t guide) {
        if (!sent && output.find("Loading firmware file...") != std::string::npos) {
          kill(guide, SIGINT);
          sent = true;
        }
      });
  EXPECT_EQ(stopped.status, 130) << stopped.output;
  std::vector<json> stoppedFeed =
      jsonEvents(outputOf("tar -xzOf '" + stoppedBundle + "' --wildcards '*/feed.jsonl'"));
  ASSERT_FALSE(stoppedFeed.empty());
  EXPECT_EQ(stoppedFeed.back()["status"], 130);
}

}  // namespace
