// The host's cost per payload character in the download loop, against a port that answers every
// read at once and accepts every write: what is left is the tool's own work per character.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "can/can_port.h"
#include "download/download.h"
#include "download/progress.h"
#include "image/firmware_image.h"

namespace {

// A port with a node that is never late: every read finds a frame, every write is accepted.
class InstantPort : public CanPort {
 public:
  long frames = 0;

 protected:
  CanStatus doOpen() override { return kCanOk; }
  CanStatus doClose() override { return kCanOk; }
  CanStatus doRead(CanFrame* frame) override {
    frame->length = 0;
    return kCanOk;
  }
  CanStatus doWrite(const CanFrame& frame) override {
    frames += frame.length;
    return kCanOk;
  }
};

void BM_StreamImagePerCharacter(benchmark::State& state) {
  FirmwareImage image;
  if (loadFirmwareImage(EXAMPLES_DIR "/firmware-100k.hex", &image).error != ImageError::kNone) {
    state.SkipWithError("cannot load the sample image");
    return;
  }
  // The progress reports go nowhere; their cost per character is part of what is measured.
  std::fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  InstantPort port;
  long characters = 0;
  for (auto _ : state) {
    ProgressReporter progress{image.lineCount, 0};
    long before = port.frames;
    StreamResult result = streamImage(port, image, 12, &progress);
    benchmark::DoNotOptimize(result);
    characters += port.frames - before;
  }
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(null);
  state.SetItemsProcessed(characters);
  state.counters["ns_per_char"] = benchmark::Counter(
      static_cast<double>(characters), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  releaseFirmwareImage(&image);
}
BENCHMARK(BM_StreamImagePerCharacter)->Unit(benchmark::kMillisecond);

}  // namespace
