#include "download/progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The reports a download of |lineCount| lines prints, as "line:value".
std::vector<std::string> reports(int lineCount) {
  ProgressReporter reporter{lineCount, 0};
  std::vector<std::string> printed;
  for (int k = 1; k <= lineCount; ++k) {
    double value = 0;
    if (progressStep(&reporter, k, &value)) {
      char text[64];
      std::snprintf(text, sizeof(text), "%d:%f", k, value);
      printed.push_back(text);
    }
  }
  return printed;
}

TEST(ProgressTest, ValuesShowSinglePrecision) {
  EXPECT_EQ(reports(3), (std::vector<std::string>{"1:33.333332", "2:66.666664", "3:100.000000"}));
  EXPECT_EQ(reports(1), (std::vector<std::string>{"1:100.000000"}));
  std::vector<std::string> seven = reports(7);
  ASSERT_EQ(seven.size(), 7u);
  EXPECT_EQ(seven[0], "1:14.285714");
  EXPECT_EQ(seven[1], "2:28.571428");
}

TEST(ProgressTest, PrintsOnlyWhenWholePercentMoves) {
  std::vector<std::string> many = reports(250);
  ASSERT_EQ(many.size(), 100u);
  EXPECT_EQ(many[0], "3:1.200000");
  EXPECT_EQ(many[1], "5:2.000000");
  EXPECT_EQ(many[98], "248:99.199997");
  EXPECT_EQ(many[99], "250:100.000000");

  // The sample image's size: the last line always reports 100.
  std::vector<std::string> sample = reports(1265);
  EXPECT_EQ(sample.size(), 100u);
  EXPECT_EQ(sample.back(), "1265:100.000000");
}

TEST(ProgressTest, HugeLineCountsDoNotOverflow) {
  ProgressReporter reporter{30000000, 0};
  double value = 0;
  EXPECT_TRUE(progressStep(&reporter, 30000000, &value));
  EXPECT_EQ(value, 100.0);
}

}  // namespace
