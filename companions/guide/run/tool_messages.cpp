#include "tool_messages.h"

#include <cstdlib>

namespace {

constexpr const char kErrorTag[] = "ERROR";
constexpr const char kInstructionTag[] = "USERMESSAGE";
constexpr const char kProgressTag[] = "DOWNPROG";
constexpr const char kSucceeded[] = "Program ended successfully.";
constexpr const char kFailed[] = "Program ended unsuccessfully.";
constexpr const char kPowerCycleInstruction[] = "Please power off the hand";
constexpr const char kDownloadStarting[] = "Starting download of firmware";
constexpr const char kDownloadComplete[] = "Download complete!";
constexpr const char kPowerOffTimeout[] =
    "Timeout occured while waiting for nodlet to be powered off.";
constexpr const char kPowerOnTimeout[] = "Timeout occured while attempting to connect to nodlet.";

bool startsWith(const std::string& text, const char* prefix, size_t length) {
  return text.compare(0, length, prefix) == 0;
}

}  // namespace

ToolMessage classifyLine(const std::string& line) {
  ToolMessage message;
  message.raw = line;
  message.text = line;
  if (line.empty()) {
    message.kind = MessageKind::kBlank;
  } else if (startsWith(line, kErrorTag, sizeof(kErrorTag) - 1)) {
    message.kind = MessageKind::kError;
    // "ERROR getting thread priority" keeps its space: it is part of the text a person reads.
    message.text = line.substr(sizeof(kErrorTag) - 1);
    if (!message.text.empty() && message.text[0] == ' ') {
      message.text = line;
    }
    if (startsWith(message.text, kPowerOffTimeout, sizeof(kPowerOffTimeout) - 1)) {
      message.milestone = Milestone::kPowerOffTimedOut;
    } else if (startsWith(message.text, kPowerOnTimeout, sizeof(kPowerOnTimeout) - 1)) {
      message.milestone = Milestone::kPowerOnTimedOut;
    }
  } else if (startsWith(line, kInstructionTag, sizeof(kInstructionTag) - 1)) {
    message.kind = MessageKind::kInstruction;
    message.text = line.substr(sizeof(kInstructionTag) - 1);
    if (startsWith(message.text, kPowerCycleInstruction, sizeof(kPowerCycleInstruction) - 1)) {
      message.milestone = Milestone::kPowerCycleAsked;
    }
  } else if (startsWith(line, kProgressTag, sizeof(kProgressTag) - 1)) {
    message.text = line.substr(sizeof(kProgressTag) - 1);
    char* end = nullptr;
    double value = std::strtod(message.text.c_str(), &end);
    if (end != message.text.c_str() && *end == '\0') {
      message.kind = MessageKind::kProgress;
      message.percent = value;
    } else {
      // Not a value the tool prints: shown as the text it is.
      message.kind = MessageKind::kNarration;
      message.text = line;
    }
  } else if (line == kSucceeded || line == kFailed) {
    message.kind = MessageKind::kClosing;
    message.succeeded = line == kSucceeded;
  } else if (startsWith(line, kDownloadStarting, sizeof(kDownloadStarting) - 1)) {
    message.milestone = Milestone::kDownloadStarting;
  } else if (startsWith(line, kDownloadComplete, sizeof(kDownloadComplete) - 1)) {
    message.milestone = Milestone::kDownloadComplete;
  }
  return message;
}

void ToolMessageReader::emit(const SplitLine& line, double seconds, std::vector<ToolMessage>* out) {
  ToolMessage message = classifyLine(line.text);
  message.seconds = seconds;
  message.cut = line.cut;
  if (message.kind == MessageKind::kError) {
    afterError_ = true;
  } else if (afterError_ && message.kind != MessageKind::kBlank &&
             message.kind != MessageKind::kClosing) {
    message.kind = MessageKind::kError;
    message.text = message.raw;
    message.continuation = true;
  }
  out->push_back(std::move(message));
}

void ToolMessageReader::feed(const std::string& bytes, double seconds,
                             std::vector<ToolMessage>* out) {
  splitter_.feed(bytes, &lines_);
  for (const SplitLine& line : lines_) {
    emit(line, seconds, out);
  }
  lines_.clear();
}

void ToolMessageReader::finish(double seconds, std::vector<ToolMessage>* out) {
  splitter_.finish(&lines_);
  for (const SplitLine& line : lines_) {
    emit(line, seconds, out);
  }
  lines_.clear();
}
