// Prints lines for a person: on a smart terminal one live line is kept at the bottom and
// redrawn in place, and colour marks what matters; elsewhere only plain lines are written.
#pragma once

#include <cstdio>
#include <string>

/// The colours the guide uses.
enum class Colour { kNone, kRed, kGreen, kYellow, kCyan, kBold, kDim };

/// |text| broken between words into lines of at most |width| columns (a word longer than that
/// stands alone); later lines are indented to where the text of the first begins.
std::string wrapText(const std::string& text, size_t width);

/// A LinePrinter writes to one stream and owns its bottom line.
class LinePrinter {
 public:
  /// Inspects |out|; |noColour| (NO_COLOR set) keeps the redrawing and drops the colour.
  LinePrinter(std::FILE* out, bool noColour);

  /// True when live lines are drawn.
  bool smart() const { return smart_; }
  /// The terminal's width now, in columns.
  int width() const;

  /// Prints |text| as a line of its own, above the live line, which is drawn again after it;
  /// on a smart terminal wrapped at its width.
  void print(const std::string& text);

  /// Shows |text| as the live line, replacing the one shown; cut to the terminal's width.
  /// Nothing is written on a stream that is not smart.
  void setLive(const std::string& text);

  /// Keeps the live line on the screen as an ordinary line; the next live line starts below.
  void keepLive();

  /// Removes the live line from the screen.
  void clearLive();

  /// |text| in |colour| when colour is on, else |text| as it is.
  std::string paint(const std::string& text, Colour colour) const;

 private:
  void write(const std::string& bytes);

  std::FILE* out_;
  bool smart_;
  bool colour_;
  std::string live_;  // the live line on the screen; empty when none is shown
};
