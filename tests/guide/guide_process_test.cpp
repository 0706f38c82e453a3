// nodletflash-guide and the processes it starts: the stops it passes on, the hang-ups it
// leaves alone, and what its child inherits.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "guide_runner.h"
#include "module_outcome.h"

namespace {

const std::string kTiny = std::string(EXAMPLES_DIR) + "/tiny.hex";

bool exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

// The lines of a whole download and a good end, as the tool prints them.
const std::string kCompleteDownload =
    "echo 'Starting download of firmware tiny.hex to Finger 2 (nodlet 12)...'\n"
    "echo DOWNPROG100.000000\necho 'Download complete!'\necho 'Program ended successfully.'\n";

// A stand-in for the virtual hand that asks for the power cycle, takes a second and succeeds,
// leaving |dir|/survived behind if nothing ended it.
std::string slowHand(const std::string& dir) {
  return writeScript(dir, "nodletflash-sim",
                     "echo 'USERMESSAGEPlease power off the hand, wait 5 seconds, then power the "
                     "hand back on.'\nsleep 1\ntouch '" +
                         dir + "/survived'\n" + kCompleteDownload);
}

TEST(GuideProcesses, AHangUpEndsTheRunUnlessItWasIgnoredAsNohupIgnoresIt) {
  for (bool nohup : {true, false}) {
    SCOPED_TRACE(nohup ? "nohup" : "no nohup");
    ScratchDir dir;
    std::string hand = slowHand(dir.path);
    bool sent = false;
    GuideRun run = runGuideWatching(
        {"--rehearse", "--sim=" + hand, "--no-log", "12", kTiny},
        [&](const std::string& output, pid_t guide) {
          if (!sent && output.find("Please power off the hand") != std::string::npos) {
            kill(guide, SIGHUP);
            sent = true;
          }
        },
        nohup);
    ASSERT_TRUE(sent);
    if (nohup) {
      EXPECT_EQ(run.status, 0) << run.output;
      EXPECT_TRUE(exists(dir.path + "/survived"));
      EXPECT_EQ(run.output.find("Stopping"), std::string::npos) << run.output;
    } else {
      EXPECT_EQ(run.status, 130) << run.output;
      EXPECT_FALSE(exists(dir.path + "/survived"));
    }
  }
}

TEST(GuideProcesses, OneStopEndsAToolThatClosedItsOutputAndRunsOn) {
  ScratchDir dir;
  std::string pidFile = dir.path + "/pid";
  std::string hand = writeScript(dir.path, "nodletflash-sim",
                                 "echo $$ > '" + pidFile +
                                     "'\necho 'Loading firmware file...'\n"
                                     "exec sleep 120 >&- 2>&-\n");
  bool sent = false;
  GuideRun run = runGuideWatching(
      {"--rehearse", "--sim=" + hand, "--no-log", "12", kTiny},
      [&](const std::string& output, pid_t guide) {
        if (!sent && output.find("Loading firmware file...") != std::string::npos) {
          // Time for the stand-in to close its output and become the sleep.
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          kill(guide, SIGTERM);
          sent = true;
        }
      });
  ASSERT_TRUE(sent);
  EXPECT_EQ(run.status, 130) << run.output;
  std::ifstream in(pidFile);
  pid_t child = 0;
  in >> child;
  ASSERT_GT(child, 0);
  EXPECT_EQ(kill(child, 0), -1) << "the stand-in outlived the guide";
}

// The tool puts the interface back when it is interrupted; a second Ctrl-C must not kill it
// in the middle of that.
TEST(GuideProcesses, ASecondStopLeavesTheToolItsGraceToPutTheInterfaceBack) {
  ScratchDir dir;
  // The trap is set before the line the test waits for: the first stop finds it in place.
  std::string hand = writeScript(dir.path, "nodletflash-sim",
                                 "trap 'trap \"\" INT; kill $idle; sleep 2; touch \"" + dir.path +
                                     "/restored\"; exit 130' INT\n"
                                     "sleep 60 >/dev/null 2>&1 &\nidle=$!\n"
                                     "echo 'Loading firmware file...'\nwait $idle\n");
  int sent = 0;
  GuideRun run = runGuideWatching(
      {"--rehearse", "--sim=" + hand, "--no-log", "12", kTiny},
      [&](const std::string& output, pid_t guide) {
        if (sent == 0 && output.find("Loading firmware file...") != std::string::npos) {
          kill(guide, SIGINT);
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
          kill(guide, SIGINT);
          sent = 2;
        }
      });
  ASSERT_EQ(sent, 2);
  EXPECT_EQ(run.status, 130) << run.output;
  EXPECT_TRUE(exists(dir.path + "/restored")) << run.output;
  EXPECT_NE(run.output.find("waiting up to 20 s"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("was killed"), std::string::npos) << run.output;
}

// Past the grace the tool is killed, and the person is told what that may have left.
TEST(GuideProcesses, AKillAfterTheGraceSaysHowToCheckTheInterface) {
  ModuleInfo module;
  module.nodeText = "12";
  module.node = 12;
  ModuleOutcome outcome;
  outcome.result = Result::kInterrupted;
  outcome.stage = Stage::kPowerCycle;
  outcome.killed = true;
  outcome.interfaceName = "can0";
  std::string words = outcomeMeaning(module, outcome);
  EXPECT_NE(words.find("did not end within 20 s of the interruption and was killed"),
            std::string::npos)
      << words;
  EXPECT_NE(words.find("can0 may be left down or at another bit rate"), std::string::npos) << words;
  EXPECT_NE(words.find("ip -details link show can0"), std::string::npos) << words;
  outcome.interfaceName.clear();
  words = outcomeMeaning(module, outcome);
  EXPECT_EQ(words.find("ip -details"), std::string::npos) << words;
  EXPECT_NE(words.find("was killed"), std::string::npos) << words;
}

TEST(GuideProcesses, TheLogIsNotOpenInTheChild) {
  ScratchDir dir;
  std::string fds = dir.path + "/fds";
  std::string hand = writeScript(dir.path, "nodletflash-sim",
                                 "ls -l /proc/$$/fd > '" + fds + "' 2>&1\n" + kCompleteDownload);
  std::string log = dir.path + "/guide.log";
  GuideRun run = runGuide({"--rehearse", "--sim=" + hand, "--log=" + log, "12", kTiny});
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<std::string> open = fileLines(fds);
  ASSERT_GE(open.size(), 3u);  // the listing is there: standard input, output and error
  for (const std::string& line : open) {
    EXPECT_EQ(line.find("guide.log"), std::string::npos) << line;
  }
  EXPECT_FALSE(fileLines(log).empty());
}

}  // namespace
