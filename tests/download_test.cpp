#include "download/download.h"

#include <gtest/gtest.h>

#include <string>

#include "download/progress.h"
#include "image/firmware_image.h"
#include "scripted_port.h"

namespace {

// An image held in a test-owned buffer.
struct TestImage {
  std::string bytes;
  FirmwareImage image;
  explicit TestImage(const std::string& contents) : bytes(contents) {
    adoptFirmwareBytes(bytes.data(), static_cast<int32_t>(contents.size()), &image);
  }
};

std::string sentCharacters(const ScriptedPort& port) {
  std::string sent;
  for (const CanFrame& frame : port.written) {
    EXPECT_EQ(frame.identifier, 11u);
    EXPECT_EQ(frame.length, 1);
    sent += static_cast<char>(frame.data[0]);
  }
  return sent;
}

TEST(DownloadTest, EachCharacterWaitsForOneFrame) {
  TestImage test("%AB\r\n\r\n%C9\r\n");
  CallTrace trace;
  ScriptedPort port(&trace);
  port.readOk = [] { return true; };
  ProgressReporter progress{test.image.lineCount, 0};

  testing::internal::CaptureStdout();
  StreamResult result = streamImage(port, test.image, 11, &progress);
  std::string printed = testing::internal::GetCapturedStdout();

  EXPECT_EQ(result.outcome, StreamOutcome::kComplete);
  EXPECT_EQ(sentCharacters(port), "ABC9");
  EXPECT_EQ(trace.calls, (std::vector<std::string>{"read", "write", "read", "write", "read",
                                                   "write", "read", "write"}));
  EXPECT_EQ(printed,
            "DOWNPROG25.000000\nDOWNPROG50.000000\nDOWNPROG75.000000\n"
            "DOWNPROG100.000000\n");
}

TEST(DownloadTest, GoAheadWaitIsBoundedByReadCount) {
  TestImage test("%12\r\n%345\r\n");
  CallTrace trace;
  ScriptedPort port(&trace);
  port.logReads = false;
  // Answers the first four go-aheads, then falls silent before line 2's third character.
  port.readOk = [&] { return port.reads <= 4; };
  ProgressReporter progress{test.image.lineCount, 0};

  testing::internal::CaptureStdout();
  StreamResult result = streamImage(port, test.image, 11, &progress);
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(result.outcome, StreamOutcome::kNoGoAhead);
  EXPECT_EQ(result.line, 2);
  EXPECT_EQ(result.count, 3);
  EXPECT_EQ(port.reads, 4 + kGoAheadReads);
  EXPECT_EQ(sentCharacters(port), "1234");
}

TEST(DownloadTest, RefusedDataFrameStopsAtItsCharacter) {
  TestImage test("%12\r\n%345\r\n");
  CallTrace trace;
  ScriptedPort port(&trace);
  port.readOk = [] { return true; };
  int writes = 0;
  port.writeOk = [&](const CanFrame&) { return ++writes != 4; };
  ProgressReporter progress{test.image.lineCount, 0};

  testing::internal::CaptureStdout();
  StreamResult result = streamImage(port, test.image, 11, &progress);
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(result.outcome, StreamOutcome::kDataWriteFailed);
  EXPECT_EQ(result.line, 2);
  EXPECT_EQ(result.count, 2);
  EXPECT_EQ(writes, 4);
}

TEST(DownloadTest, ImageWithoutPayloadSendsNothing) {
  TestImage test("%\r\n\r\n");
  CallTrace trace;
  ScriptedPort port(&trace);
  ProgressReporter progress{test.image.lineCount, 0};
  testing::internal::CaptureStdout();
  StreamResult result = streamImage(port, test.image, 11, &progress);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "DOWNPROG33.333332\nDOWNPROG66.666664\nDOWNPROG100.000000\n");
  EXPECT_EQ(result.outcome, StreamOutcome::kComplete);
  EXPECT_TRUE(trace.calls.empty());
}

}  // namespace
