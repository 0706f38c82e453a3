// The download loop must not allocate: this binary counts every operator new while it streams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "can/can_port.h"
#include "download/download.h"
#include "download/progress.h"
#include "image/firmware_image.h"

namespace {
long g_allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

// Every read finds a frame, every write is accepted.
class InstantPort : public CanPort {
 protected:
  CanStatus doOpen() override { return kCanOk; }
  CanStatus doClose() override { return kCanOk; }
  CanStatus doRead(CanFrame*) override { return kCanOk; }
  CanStatus doWrite(const CanFrame&) override { return kCanOk; }
};

TEST(DownloadAllocationTest, StreamingAllocatesNothing) {
  FirmwareImage image;
  ASSERT_EQ(loadFirmwareImage(EXAMPLES_DIR "/firmware-100k.hex", &image).error, ImageError::kNone);
  InstantPort port;
  ProgressReporter progress{image.lineCount, 0};
  testing::internal::CaptureStdout();
  long before = g_allocations;
  StreamResult result = streamImage(port, image, 12, &progress);
  long during = g_allocations - before;
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result.outcome, StreamOutcome::kComplete);
  EXPECT_EQ(during, 0);
  EXPECT_NE(printed.find("DOWNPROG100.000000\n"), std::string::npos);
  releaseFirmwareImage(&image);
}

}  // namespace
