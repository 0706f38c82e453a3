// Following the hand through the power cycle the tool asks for: when it went off and came back
// on, as the bus or the virtual hand shows it, and the limits that follow for the person.
#pragma once

#include <string>
#include <vector>

#include "run_observer.h"

/// What is known of the hand at a moment of the power cycle. Times are seconds since the
/// instruction.
struct HandState {
  PowerCycleStep::Source source = PowerCycleStep::kClock;
  bool off = false;  // it was seen to go off
  double offAt = 0;
  bool on = false;  // it was seen to come back on after that
  double onAt = 0;
  double offBy = 0;  // the limits: with the hand seen off, for when it went off; else for
  double onBy = 0;   // going off at once
};

/// |hand| after |step|, for an instruction given at |askedAt| on the guide's clock.
HandState handAfter(HandState hand, const PowerCycleStep& step, double askedAt);

/// A limit of the power cycle that passed without its step.
enum class PassedLimit {
  kNone,
  kOff,  // the hand was not seen off by |offBy|
  kOn,   // the hand, seen off, was not seen back on by |onBy|; or, followed by the clock only,
         // the latest time by which it could answer again has passed
};

/// The limit of |hand| that has passed |since| seconds after the instruction, the later one
/// when both have; kNone when none has, or when the steps came in time.
PassedLimit passedLimit(const HandState& hand, double since);

/// Turns what is seen of the hand into the steps of the power cycle, timed on the guide's
/// clock. A bus sighting is timed on that clock, like the instruction; the virtual hand times
/// its own reports, counted from its first query, which is taken for the moment of the
/// instruction. Sightings before the instruction arrives are kept until it does.
class PowerCycleWatch {
 public:
  explicit PowerCycleWatch(PowerCycleStep::Source source) : source_(source) {}

  /// The tool's instruction to power-cycle the hand, at |seconds| on the guide's clock.
  void asked(double seconds);
  /// The bus: one of the tool's queries, or any other frame (the tool takes every frame it
  /// receives for the node's answer), at |seconds| on the guide's clock.
  void querySeen(double seconds);
  void answerSeen(double seconds);
  /// The virtual hand: one line of its report, "<hand seconds> <what>".
  void handReport(const std::string& line);

  /// The steps found since the last call, in order.
  std::vector<PowerCycleStep> takeSteps();
  /// The hand as known now.
  const HandState& state() const { return state_; }
  /// The virtual hand: how often it reported its power switched off and on, whenever it was.
  int reportedOffs() const { return reportedOffs_; }
  int reportedOns() const { return reportedOns_; }

 private:
  struct Sighting {
    enum Kind { kQuery, kAnswer, kFirstQueryOn, kFirstQueryOff, kPowerOff, kPowerOn };
    Kind kind;
    double at;  // bus: guide clock; virtual hand: hand time
  };
  void see(const Sighting& sighting);
  void handOff(double at);
  void handOn(double at);
  void step(PowerCycleStep::Phase phase, double at);
  double sinceAsked(double at) const;

  PowerCycleStep::Source source_;
  bool asked_ = false;
  double askedAt_ = 0;
  bool haveAnchor_ = false;  // the virtual hand: its first query was reported
  double anchor_ = 0;
  bool queryPending_ = false;  // the bus: a query seen and no frame after it yet
  double queryAt_ = 0;
  std::vector<Sighting> early_;
  std::vector<PowerCycleStep> steps_;
  HandState state_;
  int reportedOffs_ = 0;
  int reportedOns_ = 0;
};
