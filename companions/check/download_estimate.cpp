#include "download_estimate.h"

double estimateDownloadSeconds(int64_t payloadChars) {
  return kFixedSleepMs / 1e3 + static_cast<double>(payloadChars) * kCharacterBusMicros / 1e6;
}
