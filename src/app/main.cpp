// nodletflash: writes new firmware into one nodlet of the hand over the CAN bus.
#include <memory>

#include "app/console.h"
#include "app/run_sequence.h"
#include "can/can_port.h"
#include "host/millisecond_sleep.h"
#include "host/realtime.h"

int main(int argc, char** argv) {
  prepareConsole();
  std::unique_ptr<CanPort> port = makeAdapterPort();
  std::unique_ptr<SchedulingPlatform> scheduling = makeSystemScheduling();
  SystemSleeper sleeper;
  RunParts parts;
  parts.port = port.get();
  parts.sleeper = &sleeper;
  parts.scheduling = scheduling.get();
  return runFlash(argc, argv, parts);
}
