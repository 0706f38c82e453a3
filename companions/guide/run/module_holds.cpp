#include "module_holds.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

namespace {

// The tool's messages for a reset or start frame it could not send: no data frame followed.
bool refusedBeforeData(const std::string& text) {
  return text.rfind("Error resetting nodlet", 0) == 0 ||
         text.rfind("Error signaling start of firmware download", 0) == 0;
}

// The line and the character of the tool's message about a character it could not send
// ("line %d, count #%d" or "line #%d, count #%d"); false for any other message.
bool failedCharacter(const std::string& text, int* line, int* count) {
  size_t at = text.find("line ");
  size_t countAt = text.find("count #");
  if (at == std::string::npos || countAt == std::string::npos || countAt < at) {
    return false;
  }
  at += 5;
  if (at < text.size() && text[at] == '#') {
    ++at;
  }
  char* end = nullptr;
  long lineNumber = std::strtol(text.c_str() + at, &end, 10);
  long countNumber = std::strtol(text.c_str() + countAt + 7, &end, 10);
  if (lineNumber <= 0 || countNumber <= 0 || lineNumber > INT_MAX || countNumber > INT_MAX) {
    return false;
  }
  *line = static_cast<int>(lineNumber);
  *count = static_cast<int>(countNumber);
  return true;
}

}  // namespace

void noteDownload(DownloadSeen* seen, const ToolMessage& message, const ProgressFigures* progress,
                  const ImageSummary* summary) {
  if (summary != nullptr) {
    seen->totalChars = summary->payloadChars;
  }
  if (message.milestone == Milestone::kDownloadStarting) {
    seen->started = true;
  } else if (message.milestone == Milestone::kDownloadComplete) {
    seen->complete = true;
  }
  if (message.kind == MessageKind::kProgress && progress != nullptr && progress->characters > 0) {
    seen->charsAtLeast = std::max(seen->charsAtLeast, progress->characters);
  }
  if (message.kind != MessageKind::kError || message.continuation || !seen->started) {
    return;
  }
  int line = 0;
  int count = 0;
  if (refusedBeforeData(message.text)) {
    seen->frameRefused = true;
  } else if (failedCharacter(message.text, &line, &count)) {
    seen->stoppedAtChar = true;
    // The characters of the lines before it and those before it on its line went out.
    if (summary != nullptr && line <= summary->lineCount) {
      seen->charsBeforeStop = summary->payloadBefore[static_cast<size_t>(line) - 1] + count - 1;
    } else if (line == 1 && count == 1) {
      seen->charsBeforeStop = 0;
    } else {
      seen->charsAtLeast = std::max<int64_t>(seen->charsAtLeast, count - 1);
    }
  }
}

HoldsFound holdsAfter(const DownloadSeen& seen) {
  HoldsFound found;
  if (seen.complete) {
    found.holds = Holds::kWritten;
    found.charactersSent = seen.totalChars >= 0 ? seen.totalChars : seen.charsAtLeast;
    found.exact = seen.totalChars >= 0;
    return found;
  }
  if (!seen.started || seen.frameRefused) {
    return found;
  }
  if (seen.stoppedAtChar && seen.charsBeforeStop >= 0) {
    found.charactersSent = seen.charsBeforeStop;
  } else {
    // Ended without saying where (interrupted, killed, a status without an error): only the
    // progress reports tell what went out, and the start of the download may have.
    found.charactersSent = seen.charsAtLeast;
    found.exact = false;
  }
  found.holds = found.charactersSent > 0 ? Holds::kPartWay : Holds::kMayBeErased;
  return found;
}
