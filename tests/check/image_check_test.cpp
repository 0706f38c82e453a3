#include "image_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "damaged_images.h"
#include "download_estimate.h"
#include "preflight.h"

namespace {

const std::string kTiny = readWholeFile(std::string(EXAMPLES_DIR) + "/tiny.hex");

// A file in a temporary directory for one check.
class TempImage {
 public:
  explicit TempImage(const std::string& bytes) {
    path_ = (std::filesystem::temp_directory_path() /
             ("nodletflash-check-" + std::to_string(getpid()) + "-" + std::to_string(next_++)))
                .string();
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  ~TempImage() { std::filesystem::remove(path_); }
  TempImage(const TempImage&) = delete;
  TempImage& operator=(const TempImage&) = delete;
  const std::string& path() const { return path_; }

 private:
  static inline int next_ = 0;
  std::string path_;
};

PreflightResult check(const std::string& bytes) {
  TempImage file(bytes);
  return checkNodeAndImage("12", file.path());
}

std::vector<Finding> withSeverity(const PreflightResult& result, Severity severity) {
  std::vector<Finding> out;
  std::copy_if(result.findings.begin(), result.findings.end(), std::back_inserter(out),
               [&](const Finding& f) { return f.severity == severity; });
  return out;
}

std::string describe(const PreflightResult& result) {
  std::string out;
  for (const Finding& f : result.findings) {
    out += std::to_string(static_cast<int>(f.severity)) + " " + std::to_string(f.line) + ":" +
           std::to_string(f.column) + " " + f.text + "\n";
  }
  return out;
}

// Each line's payload counted here, from the text: all but the first character and the CR.
int64_t payloadOf(const std::vector<std::string>& lines) {
  int64_t total = 0;
  for (const std::string& line : lines) {
    total += line.empty() ? 0 : static_cast<int64_t>(line.size()) - 1;
  }
  return total;
}

TEST(ImageCheckTest, EveryDamageIsReportedWhereItIs) {
  for (const DamagedImage& damaged : damageImage(kTiny)) {
    PreflightResult result = check(damaged.bytes);
    EXPECT_TRUE(hasProblem(result)) << damaged.name;
    std::vector<Finding> problems = withSeverity(result, Severity::kProblem);
    bool found = std::any_of(problems.begin(), problems.end(), [&](const Finding& f) {
      return f.line == damaged.line && f.column == damaged.column &&
             f.text.find(damaged.finding) != std::string::npos;
    });
    EXPECT_TRUE(found) << damaged.name << ": expected line " << damaged.line << ", column "
                       << damaged.column << ", \"" << damaged.finding << "\"; got\n"
                       << describe(result);
  }
}

TEST(ImageCheckTest, GoodFileSummary) {
  PreflightResult result = check(kTiny);
  EXPECT_FALSE(hasProblem(result)) << describe(result);
  EXPECT_TRUE(withSeverity(result, Severity::kWarning).empty()) << describe(result);
  ASSERT_TRUE(result.haveSummary);
  const ImageSummary& s = result.summary;
  EXPECT_EQ(result.node, 12);
  EXPECT_EQ(s.dataRecords, 3);
  EXPECT_EQ(s.terminationRecords, 1);
  EXPECT_EQ(s.symbolRecords, 0);
  EXPECT_EQ(s.dataBytes, 96);
  EXPECT_EQ(s.lowAddress, 0x00100000u);
  EXPECT_EQ(s.highAddress, 0x0010005Fu);
  std::vector<std::string> lines = splitLines(kTiny);
  EXPECT_EQ(s.payloadChars, payloadOf(lines));
  // Four records and the empty line after the last line end.
  EXPECT_EQ(s.lineCount, 5);
  ASSERT_EQ(s.payloadBefore.size(), 6u);
  EXPECT_EQ(s.payloadBefore[0], 0);
  EXPECT_EQ(s.payloadBefore[1], static_cast<int64_t>(lines[0].size()) - 1);
  EXPECT_EQ(s.payloadBefore[4], s.payloadChars);
  EXPECT_EQ(s.payloadBefore[5], s.payloadChars);
  EXPECT_DOUBLE_EQ(s.estimatedSeconds, estimateDownloadSeconds(s.payloadChars));
}

TEST(ImageCheckTest, SymbolRecordsLfOnlyAndNoFinalNewline) {
  std::vector<std::string> lines = splitLines(kTiny);
  // A section's symbol record: lowercase letters and "_" have their own values in the checksum.
  lines.insert(lines.begin(), makeRecord(3, "4Code0800100000_main"));
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i] + (i + 1 < lines.size() ? "\n" : "");
  }
  PreflightResult result = check(text);
  EXPECT_FALSE(hasProblem(result)) << describe(result);
  EXPECT_TRUE(withSeverity(result, Severity::kWarning).empty()) << describe(result);
  EXPECT_EQ(result.summary.symbolRecords, 1);
  EXPECT_EQ(result.summary.dataRecords, 3);
  EXPECT_EQ(result.summary.lineCount, 5);
  EXPECT_EQ(result.summary.payloadChars, payloadOf(lines));
}

TEST(ImageCheckTest, MixedLineEndsAndEmptyLinesAreWarnings) {
  std::vector<std::string> lines = splitLines(kTiny);
  std::string text =
      lines[0] + "\r\n" + lines[1] + "\n\r\n" + lines[2] + "\r\n" + lines[3] + "\r\n";
  PreflightResult result = check(text);
  EXPECT_FALSE(hasProblem(result)) << describe(result);
  std::vector<Finding> warnings = withSeverity(result, Severity::kWarning);
  ASSERT_EQ(warnings.size(), 2u) << describe(result);
  EXPECT_NE(warnings[0].text.find("mixed line ends"), std::string::npos);
  EXPECT_EQ(warnings[0].line, 2);
  EXPECT_NE(warnings[1].text.find("1 empty line"), std::string::npos);
  EXPECT_EQ(warnings[1].line, 3);
}

TEST(ImageCheckTest, UnsentCharactersAfterARecordAreAWarning) {
  std::vector<std::string> lines = splitLines(kTiny);
  std::string text =
      lines[0] + " \t\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n" + lines[3] + "\r\n";
  PreflightResult result = check(text);
  EXPECT_FALSE(hasProblem(result)) << describe(result);
  std::vector<Finding> warnings = withSeverity(result, Severity::kWarning);
  ASSERT_EQ(warnings.size(), 1u) << describe(result);
  EXPECT_EQ(warnings[0].line, 1);
  EXPECT_EQ(warnings[0].column, static_cast<int>(lines[0].size()) + 1);
}

TEST(ImageCheckTest, ProblemsBeyondTwentyAreCounted) {
  std::vector<std::string> lines = splitLines(kTiny);
  std::string bad = lines[1];
  bad[5] = bad[5] == '0' ? '1' : '0';
  std::string text = lines[0] + "\r\n";
  for (int i = 0; i < 30; ++i) {
    text += bad + "\r\n";
  }
  text += lines[3] + "\r\n";
  PreflightResult result = check(text);
  std::vector<Finding> problems = withSeverity(result, Severity::kProblem);
  ASSERT_EQ(problems.size(), 21u) << describe(result);
  EXPECT_EQ(problems[19].line, 21);
  EXPECT_EQ(problems[20].line, 0);
  EXPECT_NE(problems[20].text.find("10 more problems not listed"), std::string::npos)
      << problems[20].text;
}

TEST(ImageCheckTest, InvalidNodeIsAProblemAndTheFileIsStillChecked) {
  TempImage file(kTiny);
  for (const char* node : {"15", "0x0B", "abc", ""}) {
    PreflightResult result = checkNodeAndImage(node, file.path());
    EXPECT_TRUE(hasProblem(result)) << node;
    EXPECT_EQ(result.node, 0);
    EXPECT_TRUE(result.haveSummary);
  }
  // The tool's own rule: atoi's reading.
  for (const auto& [text, node] : {std::pair{" 13", 13}, {"+14", 14}, {"011", 11}, {"12abc", 12}}) {
    PreflightResult result = checkNodeAndImage(text, file.path());
    EXPECT_FALSE(hasProblem(result)) << text;
    EXPECT_EQ(result.node, node);
  }
}

TEST(ImageCheckTest, MissingFileIsRefusedAsTheToolRefusesIt) {
  PreflightResult result = checkNodeAndImage("12", "/nonexistent/dir/image.hex");
  EXPECT_TRUE(hasProblem(result));
  EXPECT_FALSE(result.haveSummary);
  EXPECT_NE(
      result.findings.back().text.find("Error opening firmware file /nonexistent/dir/image.hex"),
      std::string::npos);
}

TEST(ImageCheckTest, LargeSampleIsSound) {
  std::string text = readWholeFile(std::string(EXAMPLES_DIR) + "/firmware-100k.hex");
  PreflightResult result = check(text);
  EXPECT_FALSE(hasProblem(result)) << describe(result);
  EXPECT_EQ(result.summary.payloadChars, payloadOf(splitLines(text)));
  EXPECT_EQ(result.summary.dataBytes, (result.summary.dataRecords) * 32);
}

}  // namespace
