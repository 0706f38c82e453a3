#include "app/run_sequence.h"

#include "app/node_number.h"
#include "app/status_output.h"
#include "can/can_port.h"
#include "download/download.h"
#include "download/power_cycle.h"
#include "host/realtime.h"
#include "image/firmware_image.h"

namespace {

// Reports why the firmware file was refused, naming it.
void reportImageError(const ImageLoad& load, const char* path) {
  switch (load.error) {
    case ImageError::kNone:
      break;
    case ImageError::kOpen:
      printStatus("ERRORError opening firmware file %s.\n", path);
      break;
    case ImageError::kSize:
      printStatus("ERRORError finding the size of firmware file %s.\n", path);
      break;
    case ImageError::kTooLarge:
      printStatus("ERRORFirmware file %s is too large (2 GiB or more).\n", path);
      break;
    case ImageError::kMemory:
      printStatus("ERRORNot enough memory to load firmware file %s.\n", path);
      break;
    case ImageError::kRead:
      printStatus("ERRORError reading firmware file %s.\n", path);
      break;
    case ImageError::kNulByte:
      printStatus("ERRORFirmware file %s contains a NUL byte.\n", path);
      break;
    case ImageError::kBrokenLine:
      printStatus(
          "ERRORFirmware file %s, line %d: the record is interrupted by a character that cannot "
          "be sent.\n",
          path, load.line);
      break;
  }
}

}  // namespace

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
    reportImageError(load, firmwarePath);
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
