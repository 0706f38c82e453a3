// nodletflash-check as a program: its exit status and its JSON for good, damaged and refused
// files, and its usage errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "child_process.h"
#include "damaged_images.h"

namespace {

const std::string kCheck = NODLETFLASH_CHECK_PATH;
const std::string kTinyPath = std::string(EXAMPLES_DIR) + "/tiny.hex";

class CheckCommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("nodletflash-check-cli-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(CheckCommandLineTest, DamagedFilesEndWithStatusOneAndTheirFindingInJson) {
  int index = 0;
  for (const DamagedImage& damaged : damageImage(readWholeFile(kTinyPath))) {
    std::string path = write("damaged-" + std::to_string(index++) + ".hex", damaged.bytes);
    ChildResult run = runChild({kCheck, "--image-only", "--json", "12", path});
    EXPECT_EQ(run.status, 1) << damaged.name;
    nlohmann::json out = nlohmann::json::parse(run.output, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << damaged.name << ": " << run.output;
    bool found = false;
    for (const nlohmann::json& finding : out["findings"]) {
      found =
          found || (finding["severity"] == "problem" && finding.value("line", 0) == damaged.line &&
                    finding.value("column", 0) == damaged.column &&
                    finding["text"].get<std::string>().find(damaged.finding) != std::string::npos);
    }
    EXPECT_TRUE(found) << damaged.name << ": " << run.output;
    EXPECT_GT(out["problems"].get<int>(), 0) << damaged.name;
  }
}

TEST_F(CheckCommandLineTest, GoodFileEndsWithStatusZero) {
  ChildResult run = runChild({kCheck, "--image-only", "12", kTinyPath});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("ok node: nodlet 12 (Finger 2)\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("summary: 3 data records, 1 termination record, 0 symbol records; 96 "
                            "data bytes at 0x00100000-0x0010005F\n"),
            std::string::npos)
      << run.output;
  // Every line but the summary and the verdict starts with its severity.
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    bool tagged = line.rfind("ok ", 0) == 0 || line.rfind("warning ", 0) == 0 ||
                  line.rfind("problem ", 0) == 0 || line.rfind("summary: ", 0) == 0 ||
                  line.rfind("result: ", 0) == 0;
    EXPECT_TRUE(tagged) << line;
  }
}

TEST_F(CheckCommandLineTest, AFileNameThatCouldPassForAMessageIsAProblemShownEscaped) {
  std::string path = write("nl\nERRORinjected.hex", readWholeFile(kTinyPath));
  ChildResult run = runChild({kCheck, "--image-only", "12", path});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("problem file: the firmware file's name \"" + dir_.string() +
                            "/nl\\nERRORinjected.hex\" holds a control character (\\n)"),
            std::string::npos)
      << run.output;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.rfind("ERROR", 0), 0U) << run.output;
  }
}

TEST_F(CheckCommandLineTest, UsageErrorsEndWithStatusTwo) {
  for (const auto& argv : {std::vector<std::string>{kCheck},
                           {kCheck, "12"},
                           {kCheck, "12", kTinyPath, "extra"},
                           {kCheck, "--listen-ms=-1", "12", kTinyPath},
                           {kCheck, "--listen-ms=soon", "12", kTinyPath},
                           {kCheck, "--no-such-option", "12", kTinyPath}}) {
    ChildResult run = runChild(argv);
    EXPECT_EQ(run.status, 2) << argv.back();
  }
  EXPECT_EQ(runChild({kCheck, "--help"}).status, 0);
}

}  // namespace
