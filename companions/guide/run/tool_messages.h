// The tool's standard output, split into messages and classified by their tags as they arrive.
#pragma once

#include <string>
#include <vector>

#include "line_splitter.h"

/// What kind of message a line of the tool's output is.
enum class MessageKind {
  kNarration,    // untagged text: the stage being entered
  kInstruction,  // "USERMESSAGE": something the person must do
  kProgress,     // "DOWNPROG": a percentage of the image's lines
  kError,        // "ERROR": the run has failed
  kClosing,      // "Program ended successfully." or "Program ended unsuccessfully."
  kBlank,        // an empty line, which some messages print before their text
};

/// The points of a run that the guide follows, told by the tool's own words.
enum class Milestone {
  kNone,
  kPowerCycleAsked,   // the instruction to switch the hand off and on
  kDownloadStarting,  // the node answered after the power cycle; the download begins
  kDownloadComplete,  // every character has been sent
  kPowerOffTimedOut,  // error: the hand was still on when the tool's time for it ran out
  kPowerOnTimedOut,   // error: the hand did not answer again in the tool's time for it
};

/// One line of the tool's output.
struct ToolMessage {
  MessageKind kind = MessageKind::kNarration;
  Milestone milestone = Milestone::kNone;
  std::string raw;            // the line as received, without its line end
  std::string text;           // the line without its tag
  bool continuation = false;  // kError: a later line of the error before it
  double percent = 0;         // kProgress: the value printed
  bool succeeded = false;     // kClosing: which closing line it is
  double seconds = 0;         // when the line was complete, in seconds since the guide started
  bool cut = false;           // the line was longer than the splitter's bound: |raw| is cut
};

/// Cuts the tool's output into lines, whatever pieces it arrives in, and classifies them. A
/// line that follows an error and is neither blank nor the closing line continues the error
/// (the invalid node number's message runs over two lines): it is returned as an error whose
/// |continuation| is set.
class ToolMessageReader {
 public:
  /// Takes the next piece of output, received at |seconds|; appends the lines it completes.
  void feed(const std::string& bytes, double seconds, std::vector<ToolMessage>* out);

  /// The output has ended: appends the last line if it had no line end.
  void finish(double seconds, std::vector<ToolMessage>* out);

 private:
  void emit(const SplitLine& line, double seconds, std::vector<ToolMessage>* out);

  LineSplitter splitter_;
  std::vector<SplitLine> lines_;
  bool afterError_ = false;
};

/// Classifies one line (without its line end) on its own.
ToolMessage classifyLine(const std::string& line);
