#include "run_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

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

}  // namespace
