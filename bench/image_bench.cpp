// Image load and line walk throughput on the 100 KB sample.
#include <benchmark/benchmark.h>

#include "image/firmware_image.h"

namespace {

// Walks every line, as the download does, and counts the payload characters.
long walkPayload(FirmwareImage& image) {
  LineCursor cursor(image);
  ImageLine line;
  long payload = 0;
  while (cursor.next(&line)) {
    payload += line.payloadLength;
  }
  return payload;
}

void BM_LoadAndWalkImage(benchmark::State& state) {
  long bytes = 0;
  for (auto _ : state) {
    FirmwareImage image;
    if (loadFirmwareImage(EXAMPLES_DIR "/firmware-100k.hex", &image).error != ImageError::kNone) {
      state.SkipWithError("cannot load the sample image");
      return;
    }
    benchmark::DoNotOptimize(walkPayload(image));
    bytes += image.size;
    releaseFirmwareImage(&image);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_LoadAndWalkImage)->Unit(benchmark::kMicrosecond);

void BM_WalkImage(benchmark::State& state) {
  FirmwareImage image;
  if (loadFirmwareImage(EXAMPLES_DIR "/firmware-100k.hex", &image).error != ImageError::kNone) {
    state.SkipWithError("cannot load the sample image");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(walkPayload(image));
  }
  state.SetBytesProcessed(static_cast<long>(state.iterations()) * image.size);
  releaseFirmwareImage(&image);
}
BENCHMARK(BM_WalkImage)->Unit(benchmark::kMicrosecond);

}  // namespace
