#include "app/run_sequence.h"

#include "app/image_errors.h"
#include "app/node_number.h"
#include "app/status_output.h"
#include "can/can_port.h"
#include "download/download.h"
#include "download/power_cycle.h"
#include "host/realtime.h"
#include "image/firmware_image.h"

int runFlash(int argc, char** argv, const RunParts& parts) {
  if (argc != 3) {
    printStatus("ERRORusage: %s <nodletNumber> <filename>\n", argc > 0 ? argv[0] : "");
    endRun(true);
  }
  int node = 0;
  if (!parseNodeNumber(argv[1], &node)) {
    printStatus(
        "ERRORInvalid nodlet ID: must be between 11 and 14.\nFinger 1 is nodlet 11, Finger 2 is "
        "nodlet 12, Finger 3 is nodlet 13, and Spread is nodlet 14.\n");
    endRun(true);
  }
  const char* firmwarePath = argv[2];

  printStatus("Loading firmware file...\n");
  // The image lives until the process ends.
  static FirmwareImage image;
  ImageLoad load = loadFirmwareImage(firmwarePath, &image);
  if (load.error != ImageError::kNone) {
    printStatus("ERROR%s\n", describeImageError(load, firmwarePath).c_str());
    endRun(true);
  }

  printStatus("Initializing CAN connection...\n");
  CanPort& port = *parts.port;
  holdChannel(&port);
  if (port.open() != kCanOk) {
    printStatus(
        "ERRORError initializing CAN- ensure adapter is properly connected and PEAK CAN drivers "
        "are installed.\n");
    endRun(true);
  }

  if (!setupRealtime(*parts.scheduling)) {
    return -1;
  }

  printStatus(
      "USERMESSAGETo prevent errors, please close non-essential programs on your computer.\n");
  printStatus(
      "USERMESSAGEPlease power off the hand, wait 5 seconds, then power the hand back on.\n");

  awaitPowerCycle(port, *parts.sleeper, node);
  runDownload(port, *parts.sleeper, node, firmwarePath, image);
}
