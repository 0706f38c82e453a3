#include "download_progress.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The pace is not shown before this much of the download has been seen: the first reports
// come a fraction of a second apart.
constexpr double kMinimumSpan = 0.25;

}  // namespace

DownloadProgress::DownloadProgress(int lineCount, std::vector<int64_t> payloadBefore)
    : lineCount_(lineCount), payloadBefore_(std::move(payloadBefore)) {
  if (lineCount_ < 1 || payloadBefore_.size() != static_cast<size_t>(lineCount_) + 1) {
    payloadBefore_.clear();
  }
  if (!payloadBefore_.empty()) {
    last_.totalCharacters = payloadBefore_.back();
  }
}

ProgressFigures DownloadProgress::report(double percent, double seconds) {
  ProgressFigures figures;
  figures.percent = percent;
  figures.totalCharacters = last_.totalCharacters;
  if (!payloadBefore_.empty()) {
    // The tool prints line * 100 / lineCount, through single precision: the nearest whole
    // line is the one it reported.
    long line = std::lround(percent * lineCount_ / 100.0);
    if (line < 1) {
      line = 1;
    }
    if (line > lineCount_) {
      line = lineCount_;
    }
    figures.line = static_cast<int>(line);
    figures.characters = payloadBefore_[static_cast<size_t>(line) - 1];
    if (!haveReference_) {
      haveReference_ = true;
      referenceSeconds_ = seconds;
      referenceCharacters_ = figures.characters;
    } else if (seconds - referenceSeconds_ >= kMinimumSpan &&
               figures.characters > referenceCharacters_) {
      figures.charsPerSecond = static_cast<double>(figures.characters - referenceCharacters_) /
                               (seconds - referenceSeconds_);
      figures.secondsLeft = static_cast<double>(figures.totalCharacters - figures.characters) /
                            figures.charsPerSecond;
    }
  }
  last_ = figures;
  lastSeconds_ = seconds;
  return figures;
}

ProgressFigures DownloadProgress::at(double seconds) const {
  ProgressFigures figures = last_;
  if (figures.secondsLeft >= 0) {
    figures.secondsLeft = std::max(0.0, figures.secondsLeft - (seconds - lastSeconds_));
  }
  return figures;
}

ProgressFigures DownloadProgress::complete(double seconds) {
  ProgressFigures figures = last_;
  figures.percent = 100;
  if (!payloadBefore_.empty()) {
    figures.line = lineCount_;
    figures.characters = figures.totalCharacters;
    if (haveReference_ && seconds - referenceSeconds_ >= kMinimumSpan &&
        figures.characters > referenceCharacters_) {
      figures.charsPerSecond = static_cast<double>(figures.characters - referenceCharacters_) /
                               (seconds - referenceSeconds_);
    }
    figures.secondsLeft = 0;
  }
  last_ = figures;
  lastSeconds_ = seconds;
  return figures;
}
