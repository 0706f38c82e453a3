// The download's progress in the person's terms: from the tool's percentages of lines to the
// characters sent, the pace and the time left.
#pragma once

#include <cstdint>
#include <vector>

/// Where the download stands after one progress report. Figures that cannot be known yet are
/// negative.
struct ProgressFigures {
  double percent = 0;       // as the tool printed it
  int line = -1;            // the line about to be sent, from 1
  int64_t characters = -1;  // characters sent before that line
  int64_t totalCharacters = -1;
  double charsPerSecond = -1;  // average pace since the first report
  double secondsLeft = -1;     // at that pace, to the last character
};

/// Turns the tool's progress reports into figures. The file's shape comes from the checks:
/// its line count and payloadBefore[k], the characters sent before line k + 1 begins; without
/// it (an empty |payloadBefore|) only the percentage is known.
class DownloadProgress {
 public:
  DownloadProgress(int lineCount, std::vector<int64_t> payloadBefore);

  /// The tool reported |percent| at |seconds|.
  ProgressFigures report(double percent, double seconds);

  /// The figures of the last report as they stand at |seconds|: the time left counts down.
  ProgressFigures at(double seconds) const;

  /// The last line was sent: every character, at the pace the whole download had.
  ProgressFigures complete(double seconds);

 private:
  int lineCount_;
  std::vector<int64_t> payloadBefore_;
  bool haveReference_ = false;
  double referenceSeconds_ = 0;
  int64_t referenceCharacters_ = 0;
  double lastSeconds_ = 0;
  ProgressFigures last_;
};
