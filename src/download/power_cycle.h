// Watching the node through the power cycle the user makes, so that the download begins right
// after the node has come back.
#pragma once

class CanPort;
class Sleeper;

/// Attempts shared by both phases of the watch.
constexpr int kPowerCycleAttempts = 500;
/// Reads in one poll window, with a sleep after each one that finds nothing.
constexpr int kPollWindowReads = 25;
/// The sleep after a poll-window read that found nothing.
constexpr int kPollSleepMs = 2;
/// The pauses before and after the controller reset that ends each probe.
constexpr int kProbeSettleMs = 50;
/// The pauses before and after the last reset, once the node has answered.
constexpr int kAnswerSettleMs = 100;

// What the watch's own sleeps make of its attempt budget. These are the least times: a sleep
// that overruns, or a slow controller reset, only makes each probe longer.

/// One probe the node answers: the settling pauses around the reset.
constexpr double kAnsweredProbeSeconds = 2 * kProbeSettleMs / 1000.0;
/// One probe nobody answers: the whole poll window as well.
constexpr double kSilentProbeSeconds =
    (kPollWindowReads * kPollSleepMs + 2 * kProbeSettleMs) / 1000.0;

/// Seconds after the first query by which the hand must be off: with the node answering
/// every probe, the budget is gone then.
constexpr double powerOffLimitSeconds() {
  return kPowerCycleAttempts * kAnsweredProbeSeconds;
}

/// Seconds after the first query by which the node must answer again when the hand went off
/// |offAt| seconds after it: the probes answered until then used up part of the budget, and
/// every probe left lasts as long as a silent one. Going off later leaves less time to come
/// back on: about half a second less for every second.
constexpr double powerOnLimitSeconds(double offAt) {
  double answered = offAt / kAnsweredProbeSeconds;
  if (answered < 0) {
    answered = 0;
  }
  if (answered > kPowerCycleAttempts) {
    answered = kPowerCycleAttempts;
  }
  return offAt + (kPowerCycleAttempts - answered) * kSilentProbeSeconds;
}

/// How the watch ended.
enum class PowerCycleOutcome {
  kAnswered,          // the node went silent and answered again
  kPowerOffTimeout,   // the node kept answering
  kQueryWriteFailed,  // a query could not be sent while the node was answering
  kConnectTimeout,    // the node did not answer again
  kRecycleFailed      // the adapter did not close and reopen the channel
};

/// Probes the node until it goes silent, then until it answers, then lets it settle.
PowerCycleOutcome watchPowerCycle(CanPort& port, Sleeper& sleeper, int node);

/// Runs the watch; returns only when the node has answered, otherwise reports and ends the run.
void awaitPowerCycle(CanPort& port, Sleeper& sleeper, int node);
