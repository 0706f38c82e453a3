#include "download/progress.h"

#include "app/status_output.h"

bool progressStep(ProgressReporter* reporter, int k, double* value) {
  int whole = static_cast<int>(100LL * k / reporter->lineCount);
  if (whole == reporter->lastWholePercent) {
    return false;
  }
  reporter->lastWholePercent = whole;
  *value = static_cast<double>(static_cast<float>(k * 100.0 / reporter->lineCount));
  return true;
}

void onLineStart(ProgressReporter* reporter, int k) {
  double value = 0;
  if (progressStep(reporter, k, &value)) {
    printStatus("DOWNPROG%f\n", value);
  }
}
