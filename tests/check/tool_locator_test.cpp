#include "tool_locator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class ToolLocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("nodletflash-locate-" + std::to_string(getpid()));
    for (const char* sub : {"here", "a", "b", "c"}) {
      fs::create_directories(dir_ / sub);
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string file(const std::string& sub, bool runnable) {
    fs::path path = dir_ / sub / toolFileName();
    std::ofstream(path) << "#!/bin/sh\n";
    fs::permissions(path, runnable ? fs::perms::owner_all : fs::perms::owner_read);
    return path.string();
  }
  std::string path(const std::string& sub) { return (dir_ / sub).string(); }

  fs::path dir_;
};

TEST_F(ToolLocatorTest, OptionThenBesideThenPath) {
  std::string self = (dir_ / "here" / "nodletflash-check").string();
  std::string searchPath = path("a") + ":" + ":" + path("b") + ":" + path("c");
  file("a", false);  // not runnable: passed over
  std::string onPath = file("b", true);
  file("c", true);

  ToolLocation found = locateTool("", self, searchPath);
  EXPECT_EQ(found.path, onPath);
  EXPECT_EQ(found.how, "on PATH");

  std::string beside = file("here", true);
  found = locateTool("", self, searchPath);
  EXPECT_EQ(found.path, beside);
  EXPECT_EQ(found.how, "next to this program");

  // Given, it is taken as given, even when there is nothing there.
  found = locateTool("/no/such/nodletflash", self, searchPath);
  EXPECT_EQ(found.path, "/no/such/nodletflash");
  EXPECT_EQ(found.how, "given by --tool");
}

TEST_F(ToolLocatorTest, NotFound) {
  // An empty PATH entry does not stand for the current directory.
  file("a", true);
  ASSERT_EQ(chdir(path("a").c_str()), 0);
  ToolLocation found = locateTool("", (dir_ / "here" / "x").string(), ":" + path("c") + ":");
  EXPECT_EQ(found.path, "");
  EXPECT_EQ(found.how, "");
  ASSERT_EQ(chdir("/"), 0);
}

}  // namespace
