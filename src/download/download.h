// The firmware download: reset, start, and the image streamed one character per frame, each
// character sent only after the node's go-ahead.
#pragma once

struct FirmwareImage;
struct ProgressReporter;
class CanPort;
class Sleeper;

/// Reads in a row that may find no go-ahead before a character is given up.
constexpr int kGoAheadReads = 3000000;

/// How streaming the image ended.
enum class StreamOutcome {
  kComplete,
  kNoGoAhead,       // no frame came within kGoAheadReads reads
  kDataWriteFailed  // the adapter refused a data frame
};

/// The outcome, with the line and the character index within it of the character that was about
/// to be sent when streaming stopped.
struct StreamResult {
  StreamOutcome outcome = StreamOutcome::kComplete;
  int line = 0;
  int count = 0;
};

/// Streams every line's payload to |node|, reporting progress as each line begins. Nothing in
/// here allocates, formats text or sleeps except the progress report.
StreamResult streamImage(CanPort& port, FirmwareImage& image, int node, ProgressReporter* progress);

/// The whole download, from the start message to the closing instruction; ends the run.
[[noreturn]] void runDownload(CanPort& port, Sleeper& sleeper, int node, const char* firmwarePath,
                              FirmwareImage& image);
