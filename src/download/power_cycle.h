// Watching the node through the power cycle the user makes, so that the download begins right
// after the node has come back.
#pragma once

class CanPort;
class Sleeper;

/// Attempts shared by both phases of the watch.
constexpr int kPowerCycleAttempts = 500;
/// Reads in one poll window, with a 2 ms sleep after each one that finds nothing.
constexpr int kPollWindowReads = 25;

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
