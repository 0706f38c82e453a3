// The tool's answers to a bad command line or firmware file, byte for byte, from the built
// executable. None of these runs reaches the adapter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "child_process.h"

namespace {

const std::string kTool = NODLETFLASH_PATH;
const std::string kTiny = std::string(EXAMPLES_DIR) + "/tiny.hex";
const std::string kUnsuccessful = "Program ended unsuccessfully.\n";
const std::string kInvalidNode =
    "ERRORInvalid nodlet ID: must be between 11 and 14.\nFinger 1 is nodlet 11, Finger 2 is nodlet "
    "12, Finger 3 is nodlet 13, and Spread is nodlet 14.\n";

TEST(CommandLineTest, WrongArgumentCountShowsUsage) {
  const std::string usage = "ERRORusage: " + kTool + " <nodletNumber> <filename>\n" + kUnsuccessful;
  for (const auto& argv : {std::vector<std::string>{kTool},
                           {kTool, "12"},
                           {kTool, "12", kTiny, "extra"},
                           {kTool, "12", kTiny, "", ""}}) {
    ChildResult run = runChild(argv);
    EXPECT_EQ(run.output, usage) << argv.size();
    EXPECT_EQ(run.status, 1);
  }
}

TEST(CommandLineTest, NodeNumbersOutsideTheHandAreRefused) {
  for (const char* node : {"10", "15", "0x0B", "", "abc", "-12", "4294967307", "99999999999999"}) {
    ChildResult run = runChild({kTool, node, kTiny});
    EXPECT_EQ(run.output, kInvalidNode + kUnsuccessful) << node;
    EXPECT_EQ(run.status, 1) << node;
  }
}

// Writes a firmware file for one test.
std::string writeFile(const std::string& name, const std::string& contents) {
  std::string path = (std::filesystem::temp_directory_path() /
                      ("nodletflash-cli-" + std::to_string(getpid()) + "-" + name))
                         .string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(contents.data(), 1, contents.size(), f);
  std::fclose(f);
  return path;
}

TEST(CommandLineTest, UnusableFirmwareStopsBeforeTheAdapter) {
  const std::string loading = "Loading firmware file...\n";
  std::string missing = "/nonexistent/firmware.hex";
  ChildResult run = runChild({kTool, "12", missing});
  EXPECT_EQ(run.output,
            loading + "ERRORError opening firmware file " + missing + ".\n" + kUnsuccessful);
  EXPECT_EQ(run.status, 1);

  std::string nul = writeFile("nul.hex", std::string("%AB\r\n\0%CD\r\n", 11));
  run = runChild({kTool, " +13", nul});
  EXPECT_EQ(run.output,
            loading + "ERRORFirmware file " + nul + " contains a NUL byte.\n" + kUnsuccessful);
  EXPECT_EQ(run.status, 1);
  std::remove(nul.c_str());

  std::string broken = writeFile("broken.hex", "%AB\r\n%CD\tE\r\n");
  run = runChild({kTool, "14", broken});
  EXPECT_EQ(run.output, loading + "ERRORFirmware file " + broken +
                            ", line 2, column 4: the record is interrupted by byte 0x09, which "
                            "cannot be sent.\n" +
                            kUnsuccessful);
  EXPECT_EQ(run.status, 1);
  std::remove(broken.c_str());

  std::string directory = std::filesystem::temp_directory_path().string();
  run = runChild({kTool, "11", directory});
  EXPECT_EQ(run.output, loading + "ERRORFirmware file " + directory + " is not a regular file.\n" +
                            kUnsuccessful);
  EXPECT_EQ(run.status, 1);
}

TEST(CommandLineTest, MissingAdapterEndsAfterLoading) {
  if (std::filesystem::exists("/sys/class/net/can0")) {
    GTEST_SKIP() << "this machine has a CAN interface";
  }
  ChildResult run = runChild({kTool, "12abc", kTiny});
  EXPECT_EQ(run.output,
            "Loading firmware file...\nInitializing CAN connection...\nERRORError initializing "
            "CAN- ensure adapter is properly connected and PEAK CAN drivers are installed.\n" +
                kUnsuccessful);
  EXPECT_EQ(run.status, 1);
}

}  // namespace
