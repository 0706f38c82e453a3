#include "run_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

TEST(RunLog, TwoModulesAtTheSameSecondGetTwoLogsAndNeitherIsOverwritten) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "run-log-test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  ModuleInfo module;
  module.nodeText = "12";
  auto start = std::chrono::system_clock::now();
  std::string first;
  {
    RunLog log("", start);
    std::string reason;
    ASSERT_TRUE(log.open(module, 0, &reason)) << reason;
    first = log.path();
    log.moduleBegins(module, 0);
    ASSERT_TRUE(log.open(module, 0, &reason)) << reason;
    EXPECT_NE(log.path(), first);
    EXPECT_EQ(log.path(), first.substr(0, first.size() - 4) + "-2.log");
  }
  // Another run at the same second: a third name, the first log as it was.
  RunLog again("", start);
  std::string reason;
  ASSERT_TRUE(again.open(module, 0, &reason)) << reason;
  EXPECT_EQ(again.path(), first.substr(0, first.size() - 4) + "-3.log");
  EXPECT_GT(std::filesystem::file_size(first), 0u);
  std::filesystem::current_path(before);
  std::filesystem::remove_all(dir);
}

// A power cycle followed on the bus, or by the clock only, whose limits pass while the tool
// still waits: noted once each, when the guide's clock reaches them.
TEST(RunLog, ALimitOfThePowerCycleThatPassesIsNotedOnceByTheGuidesClock) {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("run-log-limits-" + std::to_string(getpid()) + ".log");
  for (PowerCycleStep::Source source : {PowerCycleStep::kBus, PowerCycleStep::kClock}) {
    std::filesystem::remove(path);
    {
      RunLog log(path.string(), std::chrono::system_clock::now());
      ModuleInfo module;
      module.nodeText = "12";
      std::string reason;
      ASSERT_TRUE(log.open(module, 0, &reason)) << reason;
      ToolMessage asked = classifyLine(
          "USERMESSAGEPlease power off the hand, wait 5 seconds, then power the hand back on.");
      asked.seconds = 10;
      log.message(module, asked, nullptr);
      PowerCycleStep step;
      step.source = source;
      step.offBySeconds = 60;
      step.onBySeconds = 85;
      log.powerCycle(module, step, 10);
      for (double at : {59.9, 60.0, 60.1, 84.9, 85.0, 86.0}) {
        log.tick(module, Stage::kPowerCycle, nullptr, at);
      }
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string logged = text.str();
    const std::string off = "the limit for switching the hand off, 50.0 s after the instruction, ";
    size_t at = logged.find(off);
    ASSERT_NE(at, std::string::npos) << logged;
    EXPECT_EQ(logged.find(off, at + 1), std::string::npos) << logged;
    if (source == PowerCycleStep::kBus) {
      EXPECT_NE(logged.find(off + "passed with the hand never seen off (by the guide's clock)"),
                std::string::npos)
          << logged;
      // Never seen off: the limit for coming back on does not apply yet.
      EXPECT_EQ(logged.find("answer again"), std::string::npos) << logged;
    } else {
      // The clock cannot tell what the hand did: the words hold either way.
      EXPECT_NE(logged.find(off + "has passed; the guide cannot see the hand, so whether it went "
                                  "off is not known (by the guide's clock)"),
                std::string::npos)
          << logged;
      EXPECT_NE(logged.find("the latest the hand could answer again by, 75.0 s after the "
                            "instruction, has passed"),
                std::string::npos)
          << logged;
    }
  }
  std::filesystem::remove(path);
}

}  // namespace
