// Download progress as a share of the image's lines, for people and supervising programs.
#pragma once

/// Remembers the last whole percentage reported, so that a report is printed only when it moves.
struct ProgressReporter {
  int lineCount = 1;
  int lastWholePercent = 0;
};

/// Decides whether line |k| (from 1) moves the whole percentage. If it does, stores it and sets
/// |value| to the exact share k * 100 / lineCount as the report prints it (single precision).
bool progressStep(ProgressReporter* reporter, int k, double* value);

/// Called as line |k| begins: prints a "DOWNPROG" report when the whole percentage moves.
void onLineStart(ProgressReporter* reporter, int k);
