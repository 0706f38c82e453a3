// The power cycle as the guide follows it through rehearsals: the feed's steps and the bottom
// line a person sees, for each way the virtual hand's person handles the switch.
#include <gtest/gtest.h>

#include <regex>

#include "guide_runner.h"

namespace {

using nlohmann::json;

const std::string kTiny = std::string(EXAMPLES_DIR) + "/tiny.hex";

std::vector<std::string> rehearsal(const std::string& scenario, bool feed) {
  std::vector<std::string> args{"--rehearse=" + scenario, "--sim=" + std::string(SIM_PATH),
                                "--sim-clock=virtual", "--no-log"};
  if (feed) {
    args.emplace_back("--json");
  }
  args.emplace_back("12");
  args.push_back(kTiny);
  return args;
}

// What each scenario's hand does, as the guide must tell it.
struct HandStory {
  const char* scenario;
  std::vector<std::string> phases;  // the feed's power-cycle steps
  double onBy;                      // the hand-off step's limit; 0 when it never goes off
  int status;
  std::vector<std::string> lines;  // what the bottom line says, in order
  std::vector<std::string> never;  // what it must not say
};

void PrintTo(const HandStory& story, std::ostream* out) {
  *out << story.scenario;
}

class GuidePowerCycle : public ::testing::TestWithParam<HandStory> {};

TEST_P(GuidePowerCycle, TheFeedTellsEachStepFromTheVirtualHand) {
  const HandStory& story = GetParam();
  GuideRun run = runGuide(rehearsal(story.scenario, true));
  EXPECT_EQ(run.status, story.status);
  std::vector<std::string> phases;
  double askedAt = -1;  // the limits are times on the guide's clock, like t
  bool asked = false;
  bool downloading = false;
  for (const json& event : jsonEvents(run.output)) {
    if (event["event"] == "instruction" &&
        event["text"].get<std::string>().rfind("Please power off", 0) == 0) {
      asked = true;
    }
    if (event["event"] == "narration" &&
        event["text"].get<std::string>().rfind("Starting download", 0) == 0) {
      downloading = true;
    }
    if (event["event"] != "power-cycle") {
      continue;
    }
    EXPECT_TRUE(asked && !downloading) << "out of order: " << event;
    EXPECT_EQ(event["source"], "virtual-hand") << event;
    std::string phase = event["phase"];
    phases.push_back(phase);
    if (phase == "asked") {
      askedAt = event["instruction_t"];
      EXPECT_LE(askedAt, event["t"].get<double>()) << event;
      EXPECT_NEAR(event["off_by_t"].get<double>() - askedAt, 50, 0.0011) << event;
      EXPECT_NEAR(event["on_by_t"].get<double>() - askedAt, 75, 0.0011) << event;
    } else if (phase == "hand-off") {
      EXPECT_EQ(event["instruction_t"], askedAt) << event;
      EXPECT_NEAR(event["on_by_t"].get<double>() - askedAt, story.onBy, 0.0011) << event;
    } else {
      EXPECT_EQ(event["instruction_t"], askedAt) << event;
    }
  }
  EXPECT_EQ(phases, story.phases) << run.output;
}

// The bottom lines drawn on a terminal, without their colour: each text written after an erase
// of the line and erased in its turn, or kept as a line of its own when it is the power cycle's.
// (A line printed above the live one is also written after an erase, and ends its line.)
std::vector<std::string> liveLines(const std::string& output) {
  std::vector<std::string> lines;
  const std::string erase = "\r\x1b[K";
  const std::regex colour("\x1b\\[[0-9;]*m");
  const std::regex powerCycle("^(Power cycle )?[0-9]+ s: ");
  size_t at = 0;
  while ((at = output.find(erase, at)) != std::string::npos) {
    at += erase.size();
    size_t end = output.find_first_of("\r\n", at);
    std::string line = std::regex_replace(output.substr(at, end - at), colour, "");
    // The terminal turns a line's end into CR LF.
    bool kept =
        end != std::string::npos && (output[end] == '\n' || output.compare(end, 2, "\r\n") == 0);
    if (!line.empty() && (!kept || std::regex_search(line, powerCycle))) {
      lines.push_back(line);
    }
  }
  return lines;
}

TEST_P(GuidePowerCycle, TheBottomLineIsTrueForTheHandAndFitsWithItsDeadline) {
  const HandStory& story = GetParam();
  for (int columns : {80, 40}) {
    GuideRun run = runGuideOnTerminalOfWidth(rehearsal(story.scenario, false), {"TERM=xterm"},
                                             columns, [](const std::string&, const auto&) {});
    EXPECT_EQ(run.status, story.status);
    std::vector<std::string> powerCycle;
    for (const std::string& line : liveLines(run.output)) {
      if (line.find(" s") != std::string::npos && line[0] != '[') {
        EXPECT_LE(line.size(), static_cast<size_t>(columns - 1)) << line;
        EXPECT_TRUE(std::regex_search(line, std::regex("(by|past|after) [0-9]+ s")))
            << columns << " columns: " << line;
        powerCycle.push_back(line);
      }
    }
    ASSERT_FALSE(powerCycle.empty()) << run.output;
    if (columns != 80) {
      continue;
    }
    size_t next = 0;
    for (const std::string& expected : story.lines) {
      while (next < powerCycle.size() && powerCycle[next].find(expected) == std::string::npos) {
        ++next;
      }
      EXPECT_LT(next, powerCycle.size()) << "never said, in order: " << expected;
    }
    for (const std::string& line : powerCycle) {
      for (const std::string& wrong : story.never) {
        EXPECT_EQ(line.find(wrong), std::string::npos) << line;
      }
    }
  }
}

// The log: each step with its time and source, and a limit that passed without its step, in
// the order they came.
TEST(GuidePowerCycleLog, TellsEachStepAndTheLimitThatPassed) {
  struct Story {
    const char* scenario;
    std::vector<std::string> lines;  // in order
    std::vector<std::string> never;
  };
  const std::string gaveUp = " (the tool gave up waiting: its message above)";
  const Story stories[] = {
      {"normal",
       {"power cycle: asked; the guide follows the hand through the virtual hand's reports; "
        "times in seconds after the instruction, on the virtual hand's clock; the hand must be "
        "off by 50.0 s and, gone off at once, back on by 75.0 s",
        "power cycle: the hand went off at 1.0 s (told by the virtual hand); it must be back on "
        "by 74.5 s",
        "power cycle: the hand came back on at 6.0 s (told by the virtual hand), within its "
        "limit of 74.5 s",
        "out Starting download"},
       {"passed"}},
      {"never-answers",
       {"power cycle: asked;", "power cycle: the hand went off at 0.0 s",
        "out ERRORTimeout occured while attempting to connect to nodlet.",
        "power cycle: the limit for the hand to answer again, 75.0 s after the instruction, "
        "passed with the hand not seen back on" +
            gaveUp},
       {"came back on"}},
      {"never-powers-off",
       {"power cycle: asked;",
        "out ERRORTimeout occured while waiting for nodlet to be powered off.",
        "power cycle: the limit for switching the hand off, 50.0 s after the instruction, "
        "passed with the hand never seen off" +
            gaveUp},
       {"went off", "came back on", "answer again"}},
  };
  ScratchDir dir;
  for (const Story& story : stories) {
    std::string log = dir.path + "/" + story.scenario + ".log";
    GuideRun run =
        runGuide({"--rehearse=" + std::string(story.scenario), "--sim=" + std::string(SIM_PATH),
                  "--sim-clock=virtual", "--log=" + log, "12", kTiny});
    std::vector<std::string> lines = fileLines(log);
    size_t next = 0;
    for (const std::string& expected : story.lines) {
      while (next < lines.size() && lines[next].find(expected) == std::string::npos) {
        ++next;
      }
      EXPECT_LT(next, lines.size()) << story.scenario << ": never said, in order: " << expected;
    }
    for (const std::string& line : lines) {
      for (const std::string& wrong : story.never) {
        EXPECT_TRUE(line.find("power cycle:") == std::string::npos ||
                    line.find(wrong) == std::string::npos)
            << story.scenario << ": " << line;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, GuidePowerCycle,
    ::testing::Values(HandStory{"normal",
                                {"asked", "hand-off", "hand-on"},
                                74.5,
                                0,
                                {"switch the hand OFF now, by 50 s",
                                 "off since 1 s; keep it off 5 s more, then ON by 74 s",
                                 "back on at 6 s (by 74 s)"},
                                {}},
                      HandStory{"switched-off-late",
                                {"asked", "hand-off", "hand-on"},
                                60,
                                0,
                                {"switch the hand OFF now, by 50 s",
                                 "off since 30 s; keep it off 5 s more, then ON by 60 s",
                                 "back on at 36 s (by 60 s)"},
                                {"by 74 s", "by 75 s"}},
                      HandStory{"already-off",
                                {"asked", "hand-off", "hand-on"},
                                75,
                                0,
                                {"off since 0 s; keep it off 5 s more, then ON by 75 s",
                                 "back on at 5 s (by 75 s)"},
                                {}},
                      HandStory{"never-answers",
                                {"asked", "hand-off"},
                                75,
                                1,
                                {"off since 0 s; keep it off 5 s more, then ON by 75 s"},
                                {"back on"}},
                      HandStory{"never-powers-off",
                                {"asked"},
                                0,
                                1,
                                {"switch the hand OFF now, by 50 s"},
                                {"off since", "back on", "ON now", "ON by"}}),
    [](const ::testing::TestParamInfo<HandStory>& param) {
      std::string name = param.param.scenario;
      for (char& c : name) {
        if (c == '-') {
          c = '_';
        }
      }
      return name;
    });

}  // namespace
