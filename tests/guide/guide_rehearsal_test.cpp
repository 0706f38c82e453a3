// nodletflash-guide driven through whole rehearsals with the virtual hand.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "guide_runner.h"
#include "preflight.h"

namespace {

using nlohmann::json;

const std::string kTiny = std::string(EXAMPLES_DIR) + "/tiny.hex";
const std::string k100k = std::string(EXAMPLES_DIR) + "/firmware-100k.hex";
// The characters the 100 KB sample sends, as the guide writes them (checked against the
// checks' own count below).
const char k100kCharacters[] = "98,528";

// The options of a fast rehearsal with the JSON feed.
std::vector<std::string> rehearsal(const std::string& scenario, std::vector<std::string> rest) {
  std::vector<std::string> args{"--rehearse=" + scenario, "--sim=" + std::string(SIM_PATH),
                                "--sim-clock=virtual", "--json", "--no-log"};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
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

// Every event has the fields every reader relies on, with time going forward.
void expectWellFormed(const std::vector<json>& events) {
  static const std::set<std::string> kEvents{
      "run",         "module",      "shared-power-cycle", "check",        "summary", "narration",
      "instruction", "power-cycle", "progress",           "interrupting", "error",   "end",
      "run-end"};
  double last = 0;
  for (const json& event : events) {
    ASSERT_EQ(event["v"], 3) << event;
    ASSERT_TRUE(event["t"].is_number()) << event;
    EXPECT_GE(event["t"].get<double>(), last) << event;
    last = event["t"].get<double>();
    EXPECT_TRUE(event["module"].is_number_integer() || event["module"].is_null()) << event;
    EXPECT_EQ(kEvents.count(event["event"].get<std::string>()), 1u) << event;
  }
}

TEST(GuideRehearsal, ANormalRunFeedsEveryEventInOrder) {
  GuideRun run = runGuide(rehearsal("normal", {"12", k100k}));
  ASSERT_EQ(run.status, 0) << run.output;
  std::vector<json> events = jsonEvents(run.output);
  expectWellFormed(events);
  ASSERT_GE(events.size(), 4u);
  // The run as asked: the program run is the one given, whose version the guide cannot know.
  const json& begun = events[0];
  EXPECT_EQ(begun["event"], "run");
  EXPECT_EQ(begun["program"]["name"], "nodletflash-sim");
  EXPECT_EQ(begun["program"]["path"], SIM_PATH);
  EXPECT_EQ(begun["program"]["found"], "given by --sim");
  EXPECT_TRUE(begun["program"]["version"].is_null());
  EXPECT_EQ(begun["options"]["rehearsal"], "normal");
  EXPECT_EQ(begun["options"]["sim_clock"], "virtual");
  EXPECT_EQ(begun["options"]["log"], "none");
  EXPECT_EQ(begun["modules"],
            json::array({{{"index", 0}, {"typed", "12"}, {"node", 12}, {"file", k100k}}}));
  const json& module = events[1];
  EXPECT_EQ(module["event"], "module");
  EXPECT_EQ(module["index"], 0);
  EXPECT_EQ(module["count"], 1);
  EXPECT_EQ(module["typed"], "12");
  EXPECT_EQ(module["rehearsal"], "normal");
  // The file's identity: its size and the SHA-256 another program gives it.
  EXPECT_EQ(module["file_size"], std::filesystem::file_size(k100k));
  std::FILE* pipe = popen(("sha256sum '" + k100k + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char digest[65] = {};
  ASSERT_EQ(std::fread(digest, 1, 64, pipe), 64u);
  pclose(pipe);
  EXPECT_EQ(module["file_sha256"], digest);
  EXPECT_EQ(events[2]["event"], "check");
  for (const json& check : eventsNamed(events, "check")) {
    EXPECT_NE(check["severity"], "problem") << check;
  }

  std::vector<json> narration = eventsNamed(events, "narration");
  ASSERT_GE(narration.size(), 6u);
  EXPECT_EQ(narration.front()["text"], "Loading firmware file...");
  EXPECT_EQ(narration.back()["text"], "Program ended successfully.");
  std::vector<json> instructions = eventsNamed(events, "instruction");
  ASSERT_EQ(instructions.size(), 3u);
  EXPECT_EQ(instructions[1]["text"],
            "Please power off the hand, wait 5 seconds, then power the hand back on.");

  // Progress: the tool's values, each with the line it stands for and the characters sent
  // before it, from the file's own shape.
  PreflightResult checks = checkNodeAndImage("12", k100k);
  const ImageSummary& summary = checks.summary;
  std::vector<json> progress = eventsNamed(events, "progress");
  ASSERT_EQ(progress.size(), 100u);
  int lastLine = 0;
  for (const json& report : progress) {
    int line = report["line"].get<int>();
    EXPECT_GT(line, lastLine);
    lastLine = line;
    EXPECT_EQ(report["characters"].get<int64_t>(),
              summary.payloadBefore[static_cast<size_t>(line) - 1]);
    EXPECT_TRUE(report["characters_per_second"].is_null() ||
                report["characters_per_second"].get<double>() > 0);
    EXPECT_TRUE(report["seconds_left"].is_null() || report["seconds_left"].get<double>() >= 0);
  }
  EXPECT_EQ(progress.back()["percent"], 100.0);
  EXPECT_EQ(progress.back()["line"], summary.lineCount);
  EXPECT_EQ(progress.back()["characters"], summary.payloadBefore.back());
  EXPECT_EQ(summary.payloadChars, 98528);  // k100kCharacters
  EXPECT_TRUE(eventsNamed(events, "error").empty());

  const json& end = events[events.size() - 2];
  EXPECT_EQ(end["event"], "end");
  EXPECT_EQ(end["module"], 12);
  EXPECT_EQ(end["status"], 0);
  EXPECT_EQ(end["outcome"], "done");
  EXPECT_EQ(end["stage"], "closing");
  EXPECT_EQ(end["holds"], "written");
  EXPECT_EQ(end["characters_sent"], summary.payloadChars);
  const json& ended = events.back();
  EXPECT_EQ(ended["event"], "run-end");
  EXPECT_EQ(ended["status"], 0);
  EXPECT_TRUE(ended["not_done"].empty());
  EXPECT_TRUE(ended["redo_command"].is_null());
  EXPECT_GE(end["seconds"].get<double>(), 0);
  std::vector<json> summaries = eventsNamed(events, "summary");
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0]["characters"], summary.payloadChars);
  EXPECT_EQ(summaries[0]["records"], summary.records);
  EXPECT_EQ(progress.back()["total_characters"], summary.payloadChars);
}

// A failing run: the tool's error text, the exit status passed on, how far it got.
struct Failure {
  std::string scenario;
  std::string errorStart;
  int status;
  std::string stage;
  std::string holds;
  bool closingLine;
};

// What a failing run's parameter shows in the test's output: the scenario and what is expected.
void PrintTo(const Failure& failure, std::ostream* out) {
  *out << "scenario " << failure.scenario << ": \"" << failure.errorStart << "...\", status "
       << failure.status << ", stage " << failure.stage
       << (failure.closingLine ? ", with the closing line" : ", no closing line");
}

class GuideFailure : public testing::TestWithParam<Failure> {};

TEST_P(GuideFailure, FeedsTheToolsErrorAndEndsWithItsStatus) {
  const Failure& failure = GetParam();
  // What an earlier test of this process left in the record is not this test's.
  std::filesystem::remove_all(guideStateHome() + "/nodletflash");
  GuideRun run = runGuide(rehearsal(failure.scenario, {"13", kTiny}));
  EXPECT_EQ(run.status, failure.status) << run.output;
  std::vector<json> events = jsonEvents(run.output);
  expectWellFormed(events);
  std::vector<json> errors = eventsNamed(events, "error");
  ASSERT_EQ(errors.size(), 1u) << run.output;
  EXPECT_EQ(errors[0]["text"].get<std::string>().rfind(failure.errorStart, 0), 0u) << errors[0];
  std::vector<json> narration = eventsNamed(events, "narration");
  ASSERT_FALSE(narration.empty());
  EXPECT_EQ(narration.back()["text"] == "Program ended unsuccessfully.", failure.closingLine);
  const json& end = events[events.size() - 2];
  EXPECT_EQ(end["event"], "end");
  EXPECT_EQ(end["module"], 13);
  EXPECT_EQ(end["status"], failure.status);
  EXPECT_EQ(end["outcome"], "failed");
  EXPECT_EQ(end["stage"], failure.stage);
  EXPECT_EQ(end["holds"], failure.holds);
  EXPECT_EQ(events.back()["status"], failure.status);
  // Words that claim a state go with that state alone: in the end's meaning and the causes.
  std::string meaning = end["meaning"].get<std::string>();
  EXPECT_EQ(meaning.find("part-way") != std::string::npos, failure.holds == "part-way") << meaning;
  EXPECT_EQ(meaning.find("may be erased") != std::string::npos, failure.holds == "may-be-erased")
      << meaning;
  EXPECT_EQ(meaning.find("never began") != std::string::npos, failure.holds == "unchanged")
      << meaning;
  for (const json& cause : errors[0]["causes"]) {
    EXPECT_EQ(cause.dump().find("part-way"), std::string::npos) << cause;
    EXPECT_EQ(cause.dump().find("as it was"), std::string::npos) << cause;
  }
  EXPECT_FALSE(errors[0]["meaning"].is_null()) << errors[0];
  EXPECT_FALSE(errors[0]["causes"].empty()) << errors[0];
  // The last instruction, to power-cycle after a complete download, never follows a failure.
  for (const json& instruction : eventsNamed(events, "instruction")) {
    EXPECT_EQ(instruction["text"].get<std::string>().find("complete the firmware download"),
              std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, GuideFailure,
    testing::Values(
        Failure{"never-powers-off", "Timeout occured while waiting for nodlet to be powered off", 1,
                "power-cycle", "unchanged", true},
        Failure{"never-answers", "Timeout occured while attempting to connect to nodlet", 1,
                "power-cycle", "unchanged", true},
        Failure{"reset-write-fails", "Error resetting nodlet.", 1, "download", "unchanged", true},
        Failure{"data-write-fails-at=1", "Error sending firmware byte, line #1, count #1.", 1,
                "download", "may-be-erased", true},
        Failure{"data-write-fails-at=100", "Error sending firmware byte, line #2, count #22.", 1,
                "download", "part-way", true},
        Failure{"close-fails", "Error closing CAN connection (most likely not a problem)", 1,
                "closing", "written", true},
        Failure{"class-wrong", "Priority class is not 0x80. Aborting.", 255, "starting",
                "unchanged", false}),
    [](const testing::TestParamInfo<Failure>& param) {
      std::string name;
      for (char c : param.param.scenario) {
        name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
      }
      return name;
    });

TEST(GuideRehearsal, ThroughAPipeThePersonsViewIsPlainLines) {
  for (std::string scenario : {"normal", "never-answers"}) {
    GuideRun run = runGuide({"--rehearse=" + scenario, "--sim=" + std::string(SIM_PATH),
                             "--sim-clock=virtual", "--no-log", "12", k100k});
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\r'), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(">> Please power off the hand"), std::string::npos);
    if (scenario == "normal") {
      EXPECT_EQ(run.status, 0);
      // One progress line for each tenth, the last one complete.
      EXPECT_NE(run.output.find(std::string("] 100.0%  ") + k100kCharacters + " of " +
                                k100kCharacters + " characters"),
                std::string::npos)
          << run.output;
      EXPECT_NE(run.output.find("\nProgram ended successfully.\n"), std::string::npos);
      EXPECT_NE(run.output.find("Module 12 (Finger 2): done"), std::string::npos);
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.output.find("ERROR Timeout occured while attempting to connect"),
                std::string::npos);
      EXPECT_NE(run.output.find("Likely causes, and what to do:"), std::string::npos);
      EXPECT_NE(run.output.find("Module 12 (Finger 2): failed, exit status 1"), std::string::npos);
    }
  }
}

// The output with the escape sequences taken out and every redrawn line reduced to what was
// left on the screen.
std::string screenText(const std::string& output) {
  std::string text;
  std::string line;
  for (size_t i = 0; i < output.size(); ++i) {
    char c = output[i];
    if (c == '\x1b') {
      while (i < output.size() && !std::isalpha(static_cast<unsigned char>(output[i]))) {
        ++i;
      }
    } else if (c == '\r') {
      if (i + 1 < output.size() && output[i + 1] == '\n') {
        continue;
      }
      line.clear();
    } else if (c == '\n') {
      text += line + "\n";
      line.clear();
    } else {
      line += c;
    }
  }
  return text + line;
}

TEST(GuideRehearsal, OnATerminalTheBarIsRedrawnAndTheRunEndsWithTheClosingLine) {
  GuideRun run = runGuideOnTerminal({"--rehearse", "--sim=" + std::string(SIM_PATH),
                                     "--sim-clock=virtual", "--no-log", "12", k100k},
                                    {"TERM=xterm"}, [](const std::string&, const auto&) {});
  EXPECT_EQ(run.status, 0);
  // The live line is redrawn in place, and colour marks the outcome.
  EXPECT_NE(run.output.find("\r\x1b[K["), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\x1b[1;32mProgram ended successfully."), std::string::npos);
  std::string screen = screenText(run.output);
  EXPECT_NE(screen.find(std::string("] 100.0%  ") + k100kCharacters + " of " + k100kCharacters +
                        " characters"),
            std::string::npos)
      << screen;
  // The bar is left complete, then the tool's last messages, its closing line and the outcome.
  size_t closing = screen.find("Program ended successfully.\n");
  ASSERT_NE(closing, std::string::npos) << screen;
  EXPECT_LT(screen.find("] 100.0%"), closing);
  EXPECT_EQ(screen.substr(closing + std::strlen("Program ended successfully.\n"))
                .rfind("Module 12 (Finger 2): done", 0),
            0u)
      << screen;
}

TEST(GuideRehearsal, OnATerminalEveryLineFitsItsWidthAndNoWordIsCut) {
  GuideRun run = runGuideOnTerminal({"--rehearse=never-answers", "--sim=" + std::string(SIM_PATH),
                                     "--sim-clock=virtual", "--no-log", "12", kTiny},
                                    {"TERM=xterm"}, [](const std::string&, const auto&) {});
  EXPECT_EQ(run.status, 1);
  std::string screen = screenText(run.output);
  std::istringstream lines(screen);
  int wrapped = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LT(line.size(), 120u) << line;  // the terminal is 120 columns wide
    wrapped += line.rfind("    ", 0) == 0 && line.find("->") == std::string::npos ? 1 : 0;
  }
  EXPECT_GT(wrapped, 0) << screen;
  // The tool's long error is there whole, its words in order across the lines.
  std::string joined;
  for (char c : screen) {
    joined += c == '\n' ? ' ' : c;
  }
  std::string squeezed;
  for (char c : joined) {
    if (c != ' ' || squeezed.empty() || squeezed.back() != ' ') {
      squeezed += c;
    }
  }
  EXPECT_NE(squeezed.find("please try again and power your hand on earlier in the process."),
            std::string::npos)
      << screen;
}

TEST(GuideRehearsal, NoColourKeepsTheRedrawingAndDropsTheColour) {
  GuideRun run =
      runGuideOnTerminal({"--rehearse", "--sim=" + std::string(SIM_PATH), "--sim-clock=virtual",
                          "--no-log", "12", kTiny},
                         {"TERM=xterm", "NO_COLOR=1"}, [](const std::string&, const auto&) {});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("\r\x1b[K"), std::string::npos);
  EXPECT_EQ(run.output.find("\x1b[1;"), std::string::npos) << run.output;
}

TEST(GuideRehearsal, ADumbTerminalGetsPlainLines) {
  GuideRun run = runGuideOnTerminal({"--rehearse", "--sim=" + std::string(SIM_PATH),
                                     "--sim-clock=virtual", "--no-log", "12", kTiny},
                                    {"TERM=dumb"}, [](const std::string&, const auto&) {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
}

// A copy of tiny.hex with one record's checksum changed.
std::string damagedCopy(const std::string& dir) {
  std::ifstream in(kTiny, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A record is "%", its length (2 digits), its type (1 digit), its checksum (2 digits).
  size_t second = text.find('%', 1);
  char& digit = text[second + 4];
  digit = digit == '0' ? '1' : '0';
  std::string path = dir + "/damaged.hex";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(GuideRehearsal, ADamagedFileIsRefusedBeforeAnyChildStarts) {
  ScratchDir dir;
  std::string sim = recordingSim(dir.path);
  std::string damaged = damagedCopy(dir.path);
  GuideRun run = runGuide({"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--json",
                           "--no-log", "12", damaged, "13", kTiny});
  EXPECT_EQ(run.status, 1);
  std::vector<json> events = jsonEvents(run.output);
  expectWellFormed(events);
  bool problemOnLine2 = false;
  for (const json& check : eventsNamed(events, "check")) {
    problemOnLine2 |= check["severity"] == "problem" && check.value("line", 0) == 2;
  }
  EXPECT_TRUE(problemOnLine2) << run.output;
  std::vector<json> ends = eventsNamed(events, "end");
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[0]["outcome"], "refused");
  EXPECT_TRUE(ends[0]["status"].is_null());
  EXPECT_EQ(ends[0]["stage"], "checks");
  EXPECT_EQ(ends[1]["module"], 13);
  EXPECT_EQ(ends[1]["outcome"], "skipped");
  EXPECT_TRUE(eventsNamed(events, "narration").empty());
  EXPECT_TRUE(fileLines(dir.path + "/started").empty());

  // --force does not override a damaged file, and the refusal says what to do instead.
  GuideRun forced = runGuide(
      {"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--no-log", "--force", "12", damaged});
  EXPECT_EQ(forced.status, 1);
  EXPECT_TRUE(fileLines(dir.path + "/started").empty());
  EXPECT_NE(forced.output.find("never flashes a firmware file with problems"), std::string::npos)
      << forced.output;
  EXPECT_EQ(forced.output.find("start again with --force"), std::string::npos) << forced.output;
}

TEST(GuideRehearsal, ModulesRunInTheOrderGivenAndTheFirstFailureStopsTheRest) {
  ScratchDir dir;
  std::string sim = recordingSim(dir.path);
  GuideRun both = runGuide({"--rehearse", "--sim=" + sim, "--sim-clock=virtual", "--json",
                            "--no-log", "11", kTiny, "14", kTiny});
  EXPECT_EQ(both.status, 0);
  std::vector<json> ends = eventsNamed(jsonEvents(both.output), "end");
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[0]["module"], 11);
  EXPECT_EQ(ends[1]["module"], 14);
  EXPECT_EQ(ends[1]["outcome"], "done");
  std::vector<std::string> started = fileLines(dir.path + "/started");
  ASSERT_EQ(started.size(), 2u);
  EXPECT_NE(started[0].find(" 11 " + kTiny), std::string::npos) << started[0];
  EXPECT_NE(started[1].find(" 14 " + kTiny), std::string::npos) << started[1];

  GuideRun failed = runGuide({"--rehearse=never-answers", "--sim=" + sim, "--sim-clock=virtual",
                              "--no-log", "11", kTiny, "14", kTiny});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(fileLines(dir.path + "/started").size(), 3u);  // the second module never started
  EXPECT_NE(failed.output.find("Modules done: none."), std::string::npos) << failed.output;
  EXPECT_NE(failed.output.find("Modules not done: 11 (Finger 1), 14 (Spread)."), std::string::npos);
}

TEST(GuideRehearsal, TheLogHoldsEveryMessageOfTheToolAsReceived) {
  ScratchDir dir;
  for (std::string scenario : {"normal", "data-write-fails-at=5000"}) {
    std::string log = dir.path + "/" + scenario + ".log";
    GuideRun run = runGuide({"--rehearse=" + scenario, "--sim=" + std::string(SIM_PATH),
                             "--sim-clock=virtual", "--json", "--log=" + log, "12", k100k});
    // The feed names the log from the root.
    std::vector<json> ends = eventsNamed(jsonEvents(run.output), "end");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0]["log"], log);
    std::vector<std::string> logged;
    std::vector<std::string> lines = fileLines(log);
    for (const std::string& line : lines) {
      // "HH:MM:SS.mmm out <the line>"
      if (line.size() >= 17 && line.compare(12, 5, " out ") == 0) {
        logged.push_back(line.substr(17));
      }
    }
    // The same run of the bare virtual hand, whose output is the same on the virtual clock.
    std::string command = SIM_PATH;
    command += " --sim-clock=virtual --sim-scenario=" + scenario;
    command += " 12 " + k100k;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> expected;
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe) != nullptr) {
      std::string line = buffer;
      line.pop_back();
      expected.push_back(line);
    }
    int status = pclose(pipe);
    EXPECT_EQ(logged, expected) << scenario;
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(
        lines.front().find("nodletflash-guide log: module 12 (Finger 2), firmware file " + k100k),
        std::string::npos);
    EXPECT_NE(lines.back().find("exit status " + std::to_string(WEXITSTATUS(status))),
              std::string::npos)
        << lines.back();
    EXPECT_EQ(run.status, WEXITSTATUS(status));
  }
}

// Interrupting rehearsals on the real clock.
TEST(GuideRehearsal, CtrlCIsPassedOnAndTheLogIsComplete) {
  ScratchDir dir;
  std::string sim = recordingSim(dir.path);
  std::string log = dir.path + "/run.log";
  bool sent = false;
  GuideRun run = runGuideWatching(
      {"--rehearse", "--sim=" + sim, "--json", "--log=" + log, "12", kTiny, "13", kTiny},
      [&](const std::string& output, pid_t guide) {
        if (!sent && output.find("Please power off the hand") != std::string::npos) {
          kill(guide, SIGINT);
          sent = true;
        }
      });
  ASSERT_TRUE(sent);
  EXPECT_EQ(run.status, 128 + SIGINT);
  std::vector<json> events = jsonEvents(run.output);
  std::vector<json> stops = eventsNamed(events, "interrupting");
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0]["stage"], "power-cycle");
  std::vector<json> ends = eventsNamed(events, "end");
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[0]["outcome"], "interrupted");
  EXPECT_EQ(ends[0]["holds"], "unchanged");
  EXPECT_EQ(ends[0]["stage"], "power-cycle");
  EXPECT_EQ(ends[0]["status"], 128 + SIGINT);
  EXPECT_EQ(ends[1]["outcome"], "skipped");
  // The run's end: both modules not done, and the command that flashes them, as typed.
  const json& ended = events.back();
  EXPECT_EQ(ended["status"], 128 + SIGINT);
  ASSERT_EQ(ended["not_done"].size(), 2u);
  EXPECT_EQ(ended["not_done"][1]["node"], 13);
  EXPECT_EQ(ended["redo_arguments"], json({GUIDE_PATH, "--rehearse", "--sim=" + sim, "--json",
                                           "--log=" + log, "12", kTiny, "13", kTiny}));
  // The virtual hand was ended by the interruption, not left behind.
  std::vector<std::string> started = fileLines(dir.path + "/started");
  ASSERT_EQ(started.size(), 1u);
  pid_t child = std::stoi(started[0]);
  EXPECT_EQ(kill(child, 0), -1);
  // The log ends with the interruption, the module's end, its record and the sequence's.
  std::vector<std::string> lines = fileLines(log);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_NE(lines[lines.size() - 5].find("interrupted by the person during stage power-cycle"),
            std::string::npos);
  EXPECT_NE(lines[lines.size() - 4].find("meaning: Interrupted before the download began"),
            std::string::npos);
  EXPECT_NE(lines[lines.size() - 3].find("record: this computer has no record of the module"),
            std::string::npos)
      << lines[lines.size() - 3];
  EXPECT_NE(lines[lines.size() - 2].find("end: interrupted, exit status 130"), std::string::npos);
  EXPECT_NE(lines.back().find("sequence: 12=interrupted 13=skipped"), std::string::npos);
}

TEST(GuideRehearsal, CtrlCAtTheTerminalDuringTheDownloadSaysTheModuleIsPartWayThrough) {
  bool typed = false;
  GuideRun run = runGuideOnTerminal(
      {"--rehearse", "--sim=" + std::string(SIM_PATH), "--no-log", "12", k100k}, {"TERM=xterm"},
      [&](const std::string& output, const auto& typeKeys) {
        if (!typed && output.find(std::string("of ") + k100kCharacters + " characters") !=
                          std::string::npos) {
          typeKeys("\x03");
          typed = true;
        }
      });
  ASSERT_TRUE(typed);
  EXPECT_EQ(run.status, 128 + SIGINT);
  std::string screen = screenText(run.output);
  EXPECT_NE(screen.find("INTERRUPTED DURING THE DOWNLOAD"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("Program ended"), std::string::npos);
}

}  // namespace
