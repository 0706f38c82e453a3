#include "download/power_cycle.h"

#include "app/status_output.h"
#include "can/can_port.h"
#include "can/recycle.h"
#include "download/node_frames.h"
#include "host/millisecond_sleep.h"

namespace {

// Up to kPollWindowReads reads, kPollSleepMs apart; true at the first frame received.
bool pollWindow(CanPort& port, Sleeper& sleeper) {
  CanFrame frame;
  for (int i = 0; i < kPollWindowReads; ++i) {
    if (port.read(&frame) == kCanOk) {
      return true;
    }
    sleeper.sleepMs(kPollSleepMs);
  }
  return false;
}

// The rest of a probe whose query was written: poll, then reset the controller so that a query
// nobody acknowledged does not stay queued. False when the reset failed.
bool pollAndRecycle(CanPort& port, Sleeper& sleeper, bool* answered) {
  *answered = pollWindow(port, sleeper);
  sleeper.sleepMs(kProbeSettleMs);
  if (recycle(port, sleeper) != kCanOk) {
    return false;
  }
  sleeper.sleepMs(kProbeSettleMs);
  return true;
}

}  // namespace

PowerCycleOutcome watchPowerCycle(CanPort& port, Sleeper& sleeper, int node) {
  const CanFrame query = queryFrame(node);
  int attempts = 0;
  bool answered = true;

  // The hand is on: probe until a query goes unanswered.
  while (answered) {
    if (++attempts > kPowerCycleAttempts) {
      return PowerCycleOutcome::kPowerOffTimeout;
    }
    if (port.write(query) != kCanOk) {
      return PowerCycleOutcome::kQueryWriteFailed;
    }
    if (!pollAndRecycle(port, sleeper, &answered)) {
      return PowerCycleOutcome::kRecycleFailed;
    }
  }

  // The hand is off: probe until the node answers. A query the adapter refuses still counts.
  while (!answered) {
    if (++attempts > kPowerCycleAttempts) {
      return PowerCycleOutcome::kConnectTimeout;
    }
    if (port.write(query) != kCanOk) {
      continue;
    }
    if (!pollAndRecycle(port, sleeper, &answered)) {
      return PowerCycleOutcome::kRecycleFailed;
    }
  }

  sleeper.sleepMs(kAnswerSettleMs);
  if (recycle(port, sleeper) != kCanOk) {
    return PowerCycleOutcome::kRecycleFailed;
  }
  sleeper.sleepMs(kAnswerSettleMs);
  return PowerCycleOutcome::kAnswered;
}

void awaitPowerCycle(CanPort& port, Sleeper& sleeper, int node) {
  switch (watchPowerCycle(port, sleeper, node)) {
    case PowerCycleOutcome::kAnswered:
      return;
    case PowerCycleOutcome::kPowerOffTimeout:
      printStatus(
          "ERRORTimeout occured while waiting for nodlet to be powered off. Please try again and "
          "power off your hand more quickly.\n");
      break;
    case PowerCycleOutcome::kQueryWriteFailed:
      printStatus(
          "ERRORError getting nodlet version to ensure nodlet is active. CAN Error. Aborting.\n");
      break;
    case PowerCycleOutcome::kConnectTimeout:
      printStatus(
          "ERRORTimeout occured while attempting to connect to nodlet. Please ensure that your "
          "hand "
          "is connected and powered on. If your hand is powered on, please try again and power "
          "your hand on earlier in the process.\n");
      break;
    case PowerCycleOutcome::kRecycleFailed:
      printStatus(
          "ERRORError resetting CAN connection: the adapter did not close and reopen the "
          "channel. Please check that the adapter is connected and try again.\n");
      break;
  }
  endRun(true);
}
