#include "line_printer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(WrapText, BreaksBetweenWordsWithinTheWidthAndIndentsUnderTheText) {
  std::string cause =
      "  - The hand was switched off too late, or it takes longer than usual to power off your "
      "hand more quickly";
  std::vector<std::string> lines = linesOf(wrapText(cause, 40));
  ASSERT_GE(lines.size(), 3u);
  std::string words;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 40u) << lines[i];
    EXPECT_NE(lines[i].back(), ' ') << lines[i];
    if (i > 0) {
      EXPECT_EQ(lines[i].rfind("    ", 0), 0u) << lines[i];  // under the text, past "  - "
      EXPECT_NE(lines[i][4], ' ') << lines[i];
    }
    words += (i > 0 ? " " + lines[i].substr(4) : lines[i]);
  }
  EXPECT_EQ(words, cause);  // no word lost or cut: "mor" / "e quickly" cannot happen
}

TEST(WrapText, LeavesShortLinesLongWordsAndColourAlone) {
  EXPECT_EQ(wrapText("  ok      node: nodlet 12", 40), "  ok      node: nodlet 12");
  std::string path(60, 'p');
  EXPECT_EQ(wrapText(path, 40), path);
  // Colour sequences take no columns: this fits in 30.
  std::string painted = "\x1b[1;31m" + std::string(29, 'x') + "\x1b[0m";
  EXPECT_EQ(wrapText(painted, 30), painted);
  // A painted list mark is a list mark.
  std::vector<std::string> lines =
      linesOf(wrapText("    \x1b[1m->\x1b[0m Switch the hand off, wait 5 seconds and switch it on "
                       "again: the guide says when.",
                       40));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].find_first_not_of(' '), 7u) << lines[1];
}

}  // namespace
