// Feeds arbitrary files to nodletflash-check's file checks, checking that every finding points
// into the file (a line that exists, a column within it or just past its end) and that the
// summary's counts add up.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_check.h"

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  std::vector<size_t> lineLengths;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || bytes[i] == '\n') {
      lineLengths.push_back(i - start);
      start = i + 1;
    }
  }
  std::vector<Finding> findings;
  ImageSummary summary;
  checkRecords(bytes, size, &findings, &summary);
  limitProblems(&findings);
  int problems = 0;
  for (const Finding& finding : findings) {
    check(finding.line >= 0 && static_cast<size_t>(finding.line) <= lineLengths.size());
    if (finding.line > 0 && finding.column > 0) {
      check(static_cast<size_t>(finding.column) <= lineLengths[finding.line - 1] + 2);
    }
    problems += finding.severity == Severity::kProblem ? 1 : 0;
  }
  check(problems <= kMaxListedProblems + 1);
  check(summary.dataRecords + summary.terminationRecords + summary.symbolRecords <=
        static_cast<int>(lineLengths.size()));
  check(summary.dataBytes >= 0 && static_cast<size_t>(summary.dataBytes) <= size / 2);
  check(summary.dataBytes == 0 || summary.lowAddress <= summary.highAddress);
  return 0;
}
