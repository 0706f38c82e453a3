#include "download/download.h"

#include "app/status_output.h"
#include "can/can_port.h"
#include "download/node_frames.h"
#include "download/progress.h"
#include "host/millisecond_sleep.h"
#include "image/firmware_image.h"

namespace {

// Takes one received frame, which lets the next character go; false if none came in time.
bool awaitGoAhead(CanPort& port) {
  CanFrame frame;
  for (int i = 0; i < kGoAheadReads; ++i) {
    if (port.read(&frame) == kCanOk) {
      return true;
    }
  }
  return false;
}

}  // namespace

StreamResult streamImage(CanPort& port, FirmwareImage& image, int node,
                         ProgressReporter* progress) {
  StreamResult result;
  LineCursor cursor(image);
  ImageLine line;
  while (cursor.next(&line)) {
    onLineStart(progress, line.number);
    for (int i = 0; i < line.payloadLength; ++i) {
      if (!awaitGoAhead(port)) {
        return StreamResult{StreamOutcome::kNoGoAhead, line.number, i + 1};
      }
      if (port.write(dataFrame(node, line.payload[i])) != kCanOk) {
        return StreamResult{StreamOutcome::kDataWriteFailed, line.number, i + 1};
      }
    }
  }
  return result;
}

void runDownload(CanPort& port, Sleeper& sleeper, int node, const char* firmwarePath,
                 FirmwareImage& image) {
  printStatus("Starting download of firmware %s to %s (nodlet %d)...\n", firmwarePath,
              nodletName(node), node);
  if (port.write(resetFrame(node)) != kCanOk) {
    printStatus("ERRORError resetting nodlet.\n");
    endRun(true);
  }
  sleeper.sleepMs(1000);
  if (port.write(startFrame(node)) != kCanOk) {
    printStatus("ERRORError signaling start of firmware download.\n");
    endRun(true);
  }
  sleeper.sleepMs(1);

  ProgressReporter progress;
  progress.lineCount = image.lineCount;
  StreamResult result = streamImage(port, image, node, &progress);
  switch (result.outcome) {
    case StreamOutcome::kComplete:
      break;
    case StreamOutcome::kNoGoAhead:
      printStatus(
          "ERRORError reading on CAN prior to writing line %d, count #%d, to the CAN Bus. Please "
          "reboot your hand and try the download again. If this problem persists please contact "
          "Velmora.\n",
          result.line, result.count);
      endRun(true);
    case StreamOutcome::kDataWriteFailed:
      printStatus(
          "ERRORError sending firmware byte, line #%d, count #%d. Please reboot your hand and try "
          "the download again. If this problem persists please contact Velmora\n",
          result.line, result.count);
      endRun(true);
  }

  printStatus("\nDownload complete!\n");
  sleeper.sleepMs(1000);
  printStatus("\nClosing CAN connection...\n");
  if (port.close() != kCanOk) {
    printStatus("ERRORError closing CAN connection (most likely not a problem)\n");
    endRun(true);
  }
  printStatus(
      "USERMESSAGEPlease power cycle the hand to complete the firmware download process.\n");
  endRun(false);
}
