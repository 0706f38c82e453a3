#include "module_holds.h"

#include <gtest/gtest.h>

namespace {

ToolMessage said(MessageKind kind, const std::string& text,
                 Milestone milestone = Milestone::kNone) {
  ToolMessage message;
  message.kind = kind;
  message.text = text;
  message.raw = (kind == MessageKind::kError ? "ERROR" : "") + text;
  message.milestone = milestone;
  return message;
}

const ToolMessage kStarting =
    said(MessageKind::kNarration, "Starting download of firmware", Milestone::kDownloadStarting);

// Ends the tool can meet without saying at which character it stopped: what is known of the
// characters sent comes from the progress reports alone, and is a least count.
TEST(ModuleHolds, AnEndThatDoesNotSayWhereCountsOnlyWhatProgressShowed) {
  DownloadSeen seen;
  EXPECT_EQ(holdsAfter(seen).holds, Holds::kUnchanged);
  noteDownload(&seen, kStarting, nullptr, nullptr);
  HoldsFound found = holdsAfter(seen);
  EXPECT_EQ(found.holds, Holds::kMayBeErased);
  EXPECT_FALSE(found.exact);

  ProgressFigures figures;
  figures.characters = 500;
  noteDownload(&seen, said(MessageKind::kProgress, "DOWNPROG 40"), &figures, nullptr);
  found = holdsAfter(seen);
  EXPECT_EQ(found.holds, Holds::kPartWay);
  EXPECT_EQ(found.charactersSent, 500);
  EXPECT_FALSE(found.exact);
}

TEST(ModuleHolds, WithoutTheFilesShapeTheFirstCharacterIsStillKnown) {
  DownloadSeen first;
  noteDownload(&first, kStarting, nullptr, nullptr);
  noteDownload(&first,
               said(MessageKind::kError, "Error sending firmware byte, line #1, count #1. Please"),
               nullptr, nullptr);
  HoldsFound found = holdsAfter(first);
  EXPECT_EQ(found.holds, Holds::kMayBeErased);
  EXPECT_TRUE(found.exact);

  DownloadSeen later;
  noteDownload(&later, kStarting, nullptr, nullptr);
  noteDownload(&later,
               said(MessageKind::kError,
                    "Error reading on CAN prior to writing line 3, count #7, to the CAN Bus."),
               nullptr, nullptr);
  found = holdsAfter(later);
  EXPECT_EQ(found.holds, Holds::kPartWay);
  EXPECT_EQ(found.charactersSent, 6);
  EXPECT_FALSE(found.exact);

  // A refused start frame: the download never began on the module.
  DownloadSeen refused;
  noteDownload(&refused, kStarting, nullptr, nullptr);
  noteDownload(&refused, said(MessageKind::kError, "Error signaling start of firmware download."),
               nullptr, nullptr);
  EXPECT_EQ(holdsAfter(refused).holds, Holds::kUnchanged);
}

}  // namespace
