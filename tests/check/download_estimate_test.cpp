#include "download_estimate.h"

#include <gtest/gtest.h>

#include "bus_timing.h"

namespace {

// The virtual hand's node answers every data frame with a one-byte go-ahead from 0x100 + node.
constexpr uint32_t kGoAheadBase = 0x100;
constexpr uint8_t kGoAheadByte = 0x06;

TEST(DownloadEstimateTest, CharacterTimeMatchesTheBusModel) {
  // The frames of a download: a hex digit to each node, and the node's go-ahead.
  double total = 0;
  int count = 0;
  for (uint32_t node = 11; node <= 14; ++node) {
    CanFrame goAhead{kGoAheadBase + node, 0, 1, {kGoAheadByte}};
    for (char c : std::string("0123456789ABCDEF")) {
      CanFrame data{node, 0, 1, {static_cast<uint8_t>(c)}};
      total += static_cast<double>(frameWireTime(data) + frameWireTime(goAhead));
      ++count;
    }
  }
  double mean = total / count;
  EXPECT_NEAR(kCharacterBusMicros, mean, 0.5) << "the bus model says " << mean << " us";
}

TEST(DownloadEstimateTest, FixedSleepsPlusTheCharacters) {
  EXPECT_DOUBLE_EQ(estimateDownloadSeconds(0), 2.201);
  EXPECT_NEAR(estimateDownloadSeconds(100000), 2.201 + 11.55, 1e-9);
}

}  // namespace
