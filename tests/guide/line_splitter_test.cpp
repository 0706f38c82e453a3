#include "line_splitter.h"

#include <gtest/gtest.h>

namespace {

std::vector<SplitLine> split(LineSplitter& splitter, const std::vector<std::string>& pieces) {
  std::vector<SplitLine> lines;
  for (const std::string& piece : pieces) {
    splitter.feed(piece, &lines);
  }
  splitter.finish(&lines);
  return lines;
}

TEST(LineSplitter, LinesAreWholeWhateverPiecesTheyArriveInAndLoseTheirLineEnds) {
  LineSplitter splitter;
  std::vector<SplitLine> lines = split(splitter, {"one\r", "\ntw", "o\n\nthree\r\nfour"});
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].text, "one");
  EXPECT_EQ(lines[1].text, "two");
  EXPECT_EQ(lines[2].text, "");
  EXPECT_EQ(lines[3].text, "three");
  EXPECT_EQ(lines[4].text, "four");  // no line end: given at the stream's end
  for (const SplitLine& line : lines) {
    EXPECT_FALSE(line.cut);
  }
}

TEST(LineSplitter, ALineLongerThanTheBoundIsCutOnceAndTheNextLineIsWhole) {
  LineSplitter splitter(8);
  // Exactly the bound, with CR LF split across pieces: whole.
  std::vector<SplitLine> lines = split(
      splitter, {"12345678\r", "\n", "123456789", "abc", "def\nnext\n", std::string(100, 'x')});
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "12345678");
  EXPECT_FALSE(lines[0].cut);
  EXPECT_EQ(lines[1].text, "12345678");
  EXPECT_TRUE(lines[1].cut);
  EXPECT_EQ(lines[2].text, "next");
  EXPECT_FALSE(lines[2].cut);
  // A line that never ends is returned cut as soon as it passes the bound.
  EXPECT_EQ(lines[3].text, "xxxxxxxx");
  EXPECT_TRUE(lines[3].cut);
}

}  // namespace
