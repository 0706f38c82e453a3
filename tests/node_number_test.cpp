#include "app/node_number.h"

#include <gtest/gtest.h>

TEST(NodeNumberTest, ReadsAsAtoiDoes) {
  struct Case {
    const char* text;
    int node;
  };
  const Case accepted[] = {{"11", 11},  {"14", 14},     {"12abc", 12},
                           {" 13", 13}, {"\t\n13", 13}, {"+14", 14},
                           {"011", 11}, {"12 13", 12},  {"0000000000000000012", 12}};
  for (const Case& c : accepted) {
    int node = 0;
    EXPECT_TRUE(parseNodeNumber(c.text, &node)) << c.text;
    EXPECT_EQ(node, c.node) << c.text;
  }
}

TEST(NodeNumberTest, RefusesOutOfRangeAndUnreadable) {
  const char* refused[] = {"10",
                           "15",
                           "0x0B",
                           "",
                           "abc",
                           "-11",
                           "+ 12",
                           "1 2",
                           "--12",
                           "4294967307",  // 2^32 + 11: would wrap to 11 in 32 bits
                           "99999999999999999999999999",
                           "-99999999999999999999",
                           "2147483647",
                           "-2147483648"};
  for (const char* text : refused) {
    int node = 0;
    EXPECT_FALSE(parseNodeNumber(text, &node)) << text;
  }
}
