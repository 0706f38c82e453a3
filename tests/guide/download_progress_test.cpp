#include "download_progress.h"

#include <gtest/gtest.h>

#include "preflight.h"
#include "terminal_view.h"

namespace {

// The value the tool prints for line k: k * 100 / lineCount through single precision.
double printedPercent(int line, int lineCount) {
  return static_cast<double>(static_cast<float>(line * 100.0 / lineCount));
}

TEST(DownloadProgress, EveryReportOfTheSampleGivesTheToolsLineAndItsCharacters) {
  PreflightResult checks =
      checkNodeAndImage("12", std::string(EXAMPLES_DIR) + "/firmware-100k.hex");
  ASSERT_TRUE(checks.haveSummary);
  const ImageSummary& summary = checks.summary;
  DownloadProgress progress(summary.lineCount, summary.payloadBefore);
  int last = 0;
  int reports = 0;
  for (int line = 1; line <= summary.lineCount; ++line) {
    int whole = line * 100 / summary.lineCount;
    if (whole == last) {
      continue;
    }
    last = whole;
    ++reports;
    ProgressFigures figures = progress.report(printedPercent(line, summary.lineCount), line);
    ASSERT_EQ(figures.line, line);
    EXPECT_EQ(figures.characters, summary.payloadBefore[static_cast<size_t>(line) - 1]);
    EXPECT_EQ(figures.totalCharacters, summary.payloadChars);
  }
  EXPECT_EQ(reports, 100);
}

TEST(DownloadProgress, PaceAndTimeLeftFromTheFirstReportOn) {
  // Four lines of 100 characters each.
  DownloadProgress progress(4, {0, 100, 200, 300, 400});
  ProgressFigures first = progress.report(25.0, 10.0);
  EXPECT_EQ(first.characters, 0);
  EXPECT_LT(first.charsPerSecond, 0);  // one report tells no pace
  EXPECT_LT(first.secondsLeft, 0);
  ProgressFigures second = progress.report(75.0, 12.0);
  EXPECT_EQ(second.line, 3);
  EXPECT_EQ(second.characters, 200);
  EXPECT_DOUBLE_EQ(second.charsPerSecond, 100.0);
  EXPECT_DOUBLE_EQ(second.secondsLeft, 2.0);
  EXPECT_DOUBLE_EQ(progress.at(13.5).secondsLeft, 0.5);
  EXPECT_DOUBLE_EQ(progress.at(20.0).secondsLeft, 0.0);
  ProgressFigures done = progress.complete(14.0);
  EXPECT_EQ(done.characters, 400);
  EXPECT_DOUBLE_EQ(done.charsPerSecond, 100.0);
  EXPECT_EQ(done.secondsLeft, 0);
}

TEST(DownloadProgress, WithoutTheFilesShapeOnlyThePercentageIsKnown) {
  DownloadProgress progress(0, {});
  ProgressFigures figures = progress.report(50.0, 1.0);
  EXPECT_DOUBLE_EQ(figures.percent, 50.0);
  EXPECT_EQ(figures.line, -1);
  EXPECT_EQ(figures.characters, -1);
  EXPECT_LT(progress.report(60.0, 5.0).charsPerSecond, 0);
}

TEST(DownloadProgress, ShortFilesMapEachReportToItsLine) {
  for (int lineCount : {1, 3, 7}) {
    std::vector<int64_t> before;
    for (int k = 0; k <= lineCount; ++k) {
      before.push_back(int64_t{10} * k);
    }
    DownloadProgress progress(lineCount, before);
    for (int line = 1; line <= lineCount; ++line) {
      EXPECT_EQ(progress.report(printedPercent(line, lineCount), line).line, line)
          << "line " << line << " of " << lineCount;
    }
  }
}

TEST(ProgressLine, FitsEachWidthAndAlwaysKeepsThePercentageAndTheTimeLeft) {
  ProgressFigures figures;
  figures.percent = 45.2;
  figures.characters = 44528;
  figures.totalCharacters = 98528;
  figures.charsPerSecond = 3000.4;
  figures.secondsLeft = 18.2;
  for (int width = 26; width <= 200; ++width) {
    std::string line = progressLine(figures, width);
    SCOPED_TRACE(line);
    EXPECT_LE(static_cast<int>(line.size()), width);
    EXPECT_NE(line.find(" 45.2%"), std::string::npos);
    EXPECT_EQ(line.substr(line.size() - 9), "19 s left");
  }
  // A terminal of 80 columns (79 usable) has every figure; a wide one every word.
  std::string eighty = progressLine(figures, 79);
  EXPECT_NE(eighty.find("44,528/98,528 chars  3,000/s"), std::string::npos);
  EXPECT_EQ(eighty.find("[##########--------------]"), 0U);
  EXPECT_NE(progressLine(figures, 200).find("44,528 of 98,528 characters"), std::string::npos);
}

TEST(ProgressLine, TheBarFollowsTheCharactersSentNotTheToolsLinePercentage) {
  ProgressFigures figures;
  figures.percent = 50.0;  // half the lines, but the first half holds a quarter of the characters
  figures.characters = 250;
  figures.totalCharacters = 1000;
  EXPECT_EQ(progressLine(figures, 200),
            "[######------------------]  50.0%  250 of 1,000 characters");
  // Without the file's shape the bar follows the percentage.
  figures.characters = -1;
  figures.totalCharacters = -1;
  EXPECT_EQ(progressLine(figures, 200), "[############------------]  50.0%");
}

}  // namespace
