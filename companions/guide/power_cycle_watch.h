// Following the hand through the power cycle the tool asks for: when it went off and came back
// on, as the bus or the virtual hand shows it, and the limits that follow for the person.
#pragma once

#include <string>
#include <vector>

/// Where the guide learns what the hand does.
enum class HandSource {
  kBus,          // the guide's own listening socket on the tool's interface
  kVirtualHand,  // the virtual hand's report of its power switch
  kClock,        // nothing but the time since the instruction: the hand is not seen
};

/// A step of the power cycle.
enum class PowerCyclePhase {
  kAsked,    // the tool asked for the power cycle
  kHandOff,  // the hand went off (never from the clock)
  kHandOn,   // the hand came back on (never from the clock)
};

/// What is known of the hand at a moment of the power cycle.
struct HandState {
  HandSource source = HandSource::kClock;
  bool off = false;  // it was seen to go off
  double offAt = 0;
  bool on = false;  // it was seen to come back on after that
  double onAt = 0;
  double offBy = 0;  // the limits, in seconds since the instruction
  double onBy = 0;   // with the hand seen off: for when it went off; else if it went off at once
};

/// One step, as the outputs are told it. Times are seconds since the instruction.
struct PowerCycleEvent {
  PowerCyclePhase phase = PowerCyclePhase::kAsked;
  HandSource source = HandSource::kClock;
  double at = 0;     // when it happened
  double offBy = 0;  // kAsked: the hand must be off by then
  double onBy = 0;   // kAsked: the hand must be back on by then if it goes off at once;
                     // kHandOff: by then, now that it went off when it did
  HandState hand;    // what is known of the hand right after this step
};

/// The words for |source| in the feed and the log: "bus", "virtual-hand", "clock".
const char* handSourceName(HandSource source);
/// "asked", "hand-off", "hand-on".
const char* powerCyclePhaseName(PowerCyclePhase phase);

/// Turns what is seen of the hand into the steps of the power cycle. A bus sighting is timed on
/// the guide's clock, like the instruction; the virtual hand times its own reports, counted from
/// its first query. Sightings before the instruction arrives are kept until it does.
class PowerCycleWatch {
 public:
  explicit PowerCycleWatch(HandSource source) : source_(source) {}

  HandSource source() const { return source_; }

  /// The tool's instruction to power-cycle the hand, at |seconds| on the guide's clock.
  void asked(double seconds);
  /// The bus: one of the tool's queries, or any other frame (the tool takes every frame it
  /// receives for the node's answer), at |seconds| on the guide's clock.
  void querySeen(double seconds);
  void answerSeen(double seconds);
  /// The virtual hand: one line of its report, "<hand seconds> <what>".
  void handReport(const std::string& line);

  /// The steps found since the last call, in order.
  std::vector<PowerCycleEvent> takeEvents();
  /// The hand as known now.
  const HandState& state() const { return state_; }
  bool wasAsked() const { return asked_; }

 private:
  struct Sighting {
    enum Kind { kQuery, kAnswer, kFirstQueryOn, kFirstQueryOff, kPowerOff, kPowerOn };
    Kind kind;
    double at;  // bus: guide clock; virtual hand: hand time
  };
  void see(const Sighting& sighting);
  void handOff(double at);
  void handOn(double at);
  double sinceAsked(double at) const;

  HandSource source_;
  bool asked_ = false;
  double askedAt_ = 0;
  bool haveAnchor_ = false;  // the virtual hand: its first query was reported
  double anchor_ = 0;
  bool queryPending_ = false;  // the bus: a query seen and no frame after it yet
  double queryAt_ = 0;
  std::vector<Sighting> early_;
  std::vector<PowerCycleEvent> events_;
  HandState state_;
};
