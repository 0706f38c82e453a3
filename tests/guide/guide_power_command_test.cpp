// The guide switching the hand's power itself, rehearsed: the virtual hand is switched by
// nodletflash-sim --switch=off|on run as the power commands, nobody touching anything.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guide_runner.h"

namespace {

const std::string kImage = std::string(EXAMPLES_DIR) + "/firmware-100k.hex";

std::vector<std::string> rehearsal(const std::string& off, const std::string& on,
                                   const std::vector<std::string>& modules) {
  std::vector<std::string> args = {
      "--json",          "--no-log",        "--rehearse",         "--sim-clock=virtual",
      "--sim=" SIM_PATH, "--power-limit=2", "--power-off=" + off, "--power-on=" + on};
  args.insert(args.end(), modules.begin(), modules.end());
  return args;
}

const std::string kOff = std::string(SIM_PATH) + " --switch=off";
const std::string kOn = std::string(SIM_PATH) + " --switch=on";

// The power-command events of |events|, as "phase/switch/final/source".
std::vector<std::string> powerSteps(const std::vector<nlohmann::json>& events) {
  std::vector<std::string> steps;
  for (const nlohmann::json& event : events) {
    if (event["event"] == "power-command") {
      steps.push_back(event["phase"].get<std::string>() + "/" + event.value("switch", "") + "/" +
                      (event["final"].get<bool>() ? "final" : "") + "/" +
                      event.value("source", ""));
    }
  }
  return steps;
}

const nlohmann::json* endOf(const std::vector<nlohmann::json>& events, int module) {
  for (const nlohmann::json& event : events) {
    if (event["event"] == "end" && event["module"] == module) {
      return &event;
    }
  }
  return nullptr;
}

TEST(GuidePowerCommands, FourModulesAreUpdatedWithNobodyAtTheHand) {
  GuideRun run =
      runGuide(rehearsal(kOff, kOn, {"11", kImage, "12", kImage, "13", kImage, "14", kImage}));
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<nlohmann::json> events = jsonEvents(run.output);
  for (int module = 11; module <= 14; ++module) {
    const nlohmann::json* end = endOf(events, module);
    ASSERT_NE(end, nullptr) << module;
    EXPECT_EQ((*end)["outcome"], "done") << module;
  }
  // The last module's final power cycle was the guide's: nobody is told to make it.
  std::string last = (*endOf(events, 14))["meaning"];
  EXPECT_NE(last.find("The guide ran its power commands to switch the hand off and on"),
            std::string::npos)
      << last;
  EXPECT_EQ(last.find("Switch the hand off and on to complete"), std::string::npos) << last;
  // The others' end says which power cycle completes them: the guide's, at the next module.
  std::string first = (*endOf(events, 11))["meaning"];
  EXPECT_NE(first.find("the guide's power commands do it at the next module's power cycle"),
            std::string::npos)
      << first;
  // One power cycle per module before its download, and the final one after the last: every
  // step seen by the virtual hand.
  std::vector<std::string> cycle = {
      "started/off//", "ended/off//", "hand-off///virtual-hand", "kept-off///virtual-hand",
      "started/on//",  "ended/on//",  "hand-on///virtual-hand"};
  std::vector<std::string> expected;
  for (int i = 0; i < 4; ++i) {
    expected.insert(expected.end(), cycle.begin(), cycle.end());
  }
  for (std::string step : cycle) {
    size_t slash = step.find('/', step.find('/') + 1);
    expected.push_back(step.insert(slash + 1, "final"));
  }
  EXPECT_EQ(powerSteps(events), expected);
}

TEST(GuidePowerCommands, ACommandThatFailsHangsOrLeavesTheHandOnStopsBeforeTheDownload) {
  struct Case {
    std::string off;
    std::string problem;
  };
  std::vector<Case> cases = {
      {"false", "the power-off command (false) ended with status 1"},
      {"sleep 30", "the power-off command (sleep 30) did not end within its limit of 2.0 s"},
      {"true",
       "after the power-off command (true) ended with status 0, the hand was not seen "
       "to go off before the tool's run ended"},
      {"no-such-power-switch on",
       "the power-off command (no-such-power-switch on) could not be started: not found on "
       "PATH"},
  };
  for (const Case& c : cases) {
    GuideRun run = runGuide(rehearsal(c.off, kOn, {"11", kImage, "12", kImage}));
    EXPECT_EQ(run.status, 3) << c.off << "\n" << run.output;
    std::vector<nlohmann::json> events = jsonEvents(run.output);
    const nlohmann::json* end = endOf(events, 11);
    ASSERT_NE(end, nullptr) << c.off;
    EXPECT_EQ((*end)["outcome"], "power-failed") << c.off;
    EXPECT_EQ((*end)["holds"], "unchanged") << c.off;
    EXPECT_NE((*end)["meaning"].get<std::string>().find(c.problem), std::string::npos)
        << c.off << ": " << (*end)["meaning"];
    const nlohmann::json* skipped = endOf(events, 12);
    ASSERT_NE(skipped, nullptr);
    EXPECT_EQ((*skipped)["outcome"], "skipped");
  }
}

// The final power cycle is the guide's too: when it fails, the module holds the whole file and
// the person is told to make that power cycle.
TEST(GuidePowerCommands, AFinalPowerCycleThatFailsLeavesTheUpdateToBeCompleted) {
  ScratchDir scratch;
  // Switches the hand off the first time it runs; fails every time after.
  std::string off =
      "sh -c 'if [ -e \"$0\" ]; then echo relay stuck; exit 5; fi; : > \"$0\"; exec " + kOff +
      "' " + scratch.path + "/switched";
  GuideRun run = runGuide(rehearsal(off, kOn, {"12", kImage}));
  EXPECT_EQ(run.status, 3) << run.output;
  std::vector<nlohmann::json> events = jsonEvents(run.output);
  const nlohmann::json* end = endOf(events, 12);
  ASSERT_NE(end, nullptr);
  EXPECT_EQ((*end)["outcome"], "power-failed");
  EXPECT_EQ((*end)["holds"], "written");
  std::string meaning = (*end)["meaning"];
  EXPECT_NE(meaning.find("ended with status 5 (\"relay stuck\")"), std::string::npos) << meaning;
  EXPECT_NE(meaning.find("Switch the hand off and on yourself to complete the update."),
            std::string::npos)
      << meaning;
  // The tool's run was over: the guide had nothing to stop.
  for (const nlohmann::json& event : events) {
    EXPECT_NE(event["event"], "interrupting");
  }
}

// At a terminal too, a command that would ask for something finds nobody there at once, rather
// than being held until its limit; and the terminal tells nobody to work the switch.
TEST(GuidePowerCommands, ACommandThatReadsItsInputIsAnsweredByNobody) {
  std::vector<std::string> args = rehearsal("sh -c 'read answer || exit 4'", kOn, {"12", kImage});
  args.erase(args.begin());  // the view for people, on the terminal
  GuideRun run = runGuideOnTerminal(args, {"TERM=dumb"}, [](const std::string&, const auto&) {});
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("ended with status 4"), std::string::npos) << run.output;
  // The guide switches the hand: nobody at the terminal is told to.
  EXPECT_EQ(run.output.find("Switch the hand off now"), std::string::npos) << run.output;
}

TEST(GuidePowerCommands, TheSwitchOutsideARehearsalSaysWhyItCannotWork) {
  GuideRun run = runGuide({"--power-off=a"});
  EXPECT_EQ(run.status, 2);
  run = runGuide({"--json", "--power-off=a", "11", kImage});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("--power-off and --power-on go together"), std::string::npos);
  run = runGuide({"--json", "--power-off='a", "--power-on=b", "11", kImage});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("a single quote is not closed"), std::string::npos);
}

}  // namespace
