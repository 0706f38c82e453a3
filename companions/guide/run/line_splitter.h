// Cuts a child's output stream into lines, whatever pieces it arrives in, with a bound on how
// much of one line is kept.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

/// One line of a child's output, without its line end (LF or CR LF).
struct SplitLine {
  std::string text;
  bool cut = false;  // the line was longer than the bound: |text| is its beginning
};

/// Splits one stream. A line longer than |maxLength| bytes is returned at its beginning, marked
/// as cut, and the rest of it up to its line end is dropped: a child that never ends a line
/// cannot make the guide hold its output without bound.
class LineSplitter {
 public:
  static constexpr size_t kDefaultMaxLength = 4096;

  explicit LineSplitter(size_t maxLength = kDefaultMaxLength) : maxLength_(maxLength) {}

  /// Takes the next piece of the stream; appends the lines it completes.
  void feed(const std::string& bytes, std::vector<SplitLine>* out);

  /// The stream has ended: appends the last line if it had no line end.
  void finish(std::vector<SplitLine>* out);

 private:
  void emit(std::vector<SplitLine>* out);

  size_t maxLength_;
  std::string pending_;
  bool dropping_ = false;  // a cut line was returned: the rest of it is dropped
};
