// How the guide sees the hand during one module's run: the virtual hand's report of its power
// switch, the tool's interface on the bus, or nothing at all.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "power_cycle_watch.h"

struct HandChannelState;

/// One module's run's view of the hand. Everything it opens is closed on exec, except the one
/// end of the report pipe that the virtual hand is to inherit.
class HandChannel {
 public:
  HandChannel();
  ~HandChannel();
  HandChannel(const HandChannel&) = delete;
  HandChannel& operator=(const HandChannel&) = delete;

  /// Before the child starts. Rehearsing, a pipe for the virtual hand's report, named on its
  /// command line |argv| (right after the program); otherwise a listening socket on the
  /// interface the tool opens for node |node|. Returns where the hand will be seen from:
  /// kClock when neither can be had.
  /// |orders|, rehearsing: the virtual hand's power switch is worked by order() instead of its
  /// person, through a second pipe also named on |argv|.
  PowerCycleStep::Source open(bool rehearse, int node, std::vector<std::string>* argv,
                              bool orders = false);
  /// Rehearsing with |orders|: passes |order| ("off", "on", "off-done", "on-done") to the
  /// virtual hand. False when it cannot take it (it has ended).
  bool order(const std::string& order);
  /// No more orders: the virtual hand, done with its run, ends.
  void closeOrders();
  /// Once the child has started, or failed to: gives up this process's copy of what the child
  /// alone writes to.
  void childStarted();
  /// Hands |watch| everything that has arrived, timed |now| on the guide's clock.
  void drain(PowerCycleWatch* watch, double now);
  /// Stops listening to the bus: after the power cycle the download's frames are the tool's
  /// business. The virtual hand's report is read to its end: it must never find it closed.
  void stopListening();
  /// Closes everything.
  void close();

 private:
  std::unique_ptr<HandChannelState> state_;
};

/// The network interface the tool opens on this computer, named after a kill that may have kept
/// the tool from putting it back; empty where there is none (Windows, no interface chosen).
std::string toolsInterfaceName();
