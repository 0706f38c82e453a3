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
#include "sha256.h"

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

TEST_F(CheckCommandLineTest, ASetIsVerifiedWholeAndEachEntryCheckedAsAFileIs) {
  std::string tiny = readWholeFile(kTinyPath);
  write("f1.hex", tiny);
  write("f3.hex", "%not a record\n");
  std::string good = "name = \"lab set\"\n[modules.13]\nfile = \"f3.hex\"\nsha256 = \"" +
                     sha256Hex("%not a record\n") +
                     "\"\n[modules.11]\nfile = \"f1.hex\"\nsha256 = \"" + sha256Hex(tiny) + "\"\n";
  std::string set = write("set.toml", good);
  // Every digest matches: each file is then checked, and f3.hex has problems of its own.
  ChildResult run = runChild({kCheck, "--image-only", "--json", "--set=" + set});
  EXPECT_EQ(run.status, 1) << run.output;
  nlohmann::json out = nlohmann::json::parse(run.output, nullptr, false);
  ASSERT_TRUE(out.is_object()) << run.output;
  EXPECT_EQ(out["set"]["name"], "lab set");
  ASSERT_EQ(out["modules"].size(), 2u);
  EXPECT_EQ(out["modules"][0]["node"], 11);
  EXPECT_EQ(out["modules"][0]["problems"], 0);
  EXPECT_EQ(out["modules"][0]["sha256"], sha256Hex(tiny));
  EXPECT_GT(out["modules"][1]["problems"].get<int>(), 0);

  // A file changed since the set was made: the set is refused, the entry named, nothing checked.
  write("f1.hex", tiny + "\n");
  run = runChild({kCheck, "--image-only", "--set=" + set});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("problem set: the set " + set +
                            ": module 11 (Finger 1): its file "
                            "f1.hex has SHA-256 " +
                            sha256Hex(tiny + "\n")),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("result: the set is refused whole"), std::string::npos);
  // Not TOML: status 2; a set and a node on the command line: a usage error.
  EXPECT_EQ(runChild({kCheck, "--image-only", "--set=" + write("bad.toml", "name = \n")}).status,
            2);
  EXPECT_EQ(runChild({kCheck, "--image-only", "--set=" + set, "12", kTinyPath}).status, 2);
}

}  // namespace
