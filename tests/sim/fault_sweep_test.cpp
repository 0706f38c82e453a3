// Fails each adapter call of a whole run in turn and checks that the tool never reports success
// for a download the node did not receive whole, and that every failed run ends in one orderly
// way: an "ERROR" line, then the closing line, then nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_runner.h"

namespace {

const std::string kImage = std::string(EXAMPLES_DIR) + "/tiny.hex";
const std::string kFailed = "Program ended unsuccessfully.\n";
constexpr int kChunks = 8;
// Under the sanitizers the sweep takes a fixed sample: the first and last calls of the run (the
// opening, the handshake, the closing) and every SWEEP_STRIDE-th chunk step in between. A plain
// build sweeps every call.
#ifndef SWEEP_STRIDE
#define SWEEP_STRIDE 1
#endif
constexpr long kStride = SWEEP_STRIDE;
constexpr long kEdge = 200;

bool inSample(long k, long total) {
  return kStride == 1 || k <= kEdge || k > total - kEdge || ((k - 1) / kChunks) % kStride == 0;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    out.push_back(text.substr(start, end - start));
    start = end;
  }
  return out;
}

// The number of adapter calls in an undisturbed run of the tiny image.
long callsOfNormalRun() {
  static long calls = [] {
    SimRun run = runSim({"--sim-clock=virtual", "12", kImage});
    EXPECT_EQ(run.status, 0);
    return static_cast<long>(run.number("adapter_calls"));
  }();
  return calls;
}

// Checks one faulted run; returns whether it ended in success.
bool checkRun(long k, const std::string& payload) {
  SimRun run = runSim(
      {"--sim-clock=virtual", "--sim-scenario=fail-call=" + std::to_string(k), "12", kImage});
  std::vector<std::string> out = lines(run.out);
  if (run.status == 0) {
    EXPECT_EQ(run.text("data"), payload) << "K=" << k;
    EXPECT_EQ(run.number("records_bad"), 0) << "K=" << k;
    EXPECT_FALSE(out.empty() || out.back() != "Program ended successfully.\n") << "K=" << k;
    return true;
  }
  EXPECT_EQ(run.status, 1) << "K=" << k << "\n" << run.out;
  int closing = 0;
  for (const std::string& line : out) {
    closing += line == kFailed || line == "Program ended successfully.\n";
  }
  EXPECT_EQ(closing, 1) << "K=" << k << "\n" << run.out;
  if (out.size() < 2) {
    ADD_FAILURE() << "K=" << k << ": no failure message\n" << run.out;
    return false;
  }
  EXPECT_EQ(out.back(), kFailed) << "K=" << k << "\n" << run.out;
  // The failure's own message stands right before the closing line (message 2's second line
  // is not a failure this sweep can cause).
  EXPECT_EQ(out[out.size() - 2].rfind("ERROR", 0), 0u) << "K=" << k << "\n" << run.out;
  return false;
}

class FaultSweepTest : public testing::TestWithParam<int> {};

TEST_P(FaultSweepTest, EveryCallFailingOnce) {
  long total = callsOfNormalRun();
  ASSERT_GT(total, 100);
  std::string payload = imagePayload(kImage);
  long succeeded = 0;
  long swept = 0;
  for (long k = 1 + GetParam(); k <= total; k += kChunks) {
    if (!inSample(k, total)) {
      continue;
    }
    succeeded += checkRun(k, payload);
    ++swept;
  }
  RecordProperty("swept", static_cast<int>(swept));
  RecordProperty("succeeded", static_cast<int>(succeeded));
  std::printf("swept %ld of %ld calls, %ld ended in success\n", swept, total, succeeded);
}

// Each instance sweeps one share of the calls: "CallsFrom3Every8" fails calls 3, 11, 19, ...
INSTANTIATE_TEST_SUITE_P(Chunks, FaultSweepTest, testing::Range(0, kChunks),
                         [](const testing::TestParamInfo<int>& param) {
                           return "CallsFrom" + std::to_string(1 + param.param) + "Every" +
                                  std::to_string(kChunks);
                         });

}  // namespace
