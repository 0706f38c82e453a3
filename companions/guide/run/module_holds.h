// What a module holds after its turn, decided in one place from what the turn saw of the
// download: which of its frames the tool reported refused, how far its progress got, and
// whether the download completed.
#pragma once

#include <cstdint>

#include "download_progress.h"
#include "module_outcome.h"
#include "preflight.h"
#include "tool_messages.h"

/// What a turn saw of the download, from the tool's messages in order.
struct DownloadSeen {
  bool started = false;          // "Starting download of firmware": the reset frame comes next
  bool frameRefused = false;     // the reset or the start frame was refused: no data followed
  bool stoppedAtChar = false;    // a go-ahead wait or a data frame failed at one character
  int64_t charsBeforeStop = -1;  // then: the file's characters before it; -1 when not known
  int64_t charsAtLeast = 0;      // characters known sent: those before the last line reported
  bool complete = false;         // "Download complete!": every character was sent
  int64_t totalChars = -1;       // the file's characters; -1 when its shape is not known
};

/// Adds |message| to |seen|. |progress|: the figures of a progress report, else null;
/// |summary|: the file's shape when the checks could read it, else null.
void noteDownload(DownloadSeen* seen, const ToolMessage& message, const ProgressFigures* progress,
                  const ImageSummary* summary);

/// What the module holds after a turn that saw |seen|.
struct HoldsFound {
  Holds holds = Holds::kUnchanged;
  int64_t charactersSent = 0;  // known to have been sent: exactly when |exact|, else at least
  bool exact = true;
};

/// Decides it: unchanged until a frame of the download may have reached the module, and after
/// a refused reset or start frame; may be erased once the download began and no character is
/// known to have been sent; part-way once one is; written once the download completed.
HoldsFound holdsAfter(const DownloadSeen& seen);
