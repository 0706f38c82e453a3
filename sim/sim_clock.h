// The hand's clock: simulated time that only moves when told, or the host's real clock.
#pragma once

#include <chrono>

#include "hand_timing.h"

/// Where the virtual hand takes the time from. Every model reads it; only the host side moves it.
class SimClock {
 public:
  virtual ~SimClock() = default;
  /// Hand time since the clock started.
  virtual SimTime now() = 0;
  /// The host waits |span|.
  virtual void sleep(SimTime span) = 0;
  /// The host spends |span| working (an adapter call); real time passes by itself.
  virtual void spend(SimTime span) = 0;
};

/// Simulated time: moves only by sleeps and spent work, so a long run ends at once.
class VirtualClock : public SimClock {
 public:
  SimTime now() override { return now_; }
  void sleep(SimTime span) override { now_ += span; }
  void spend(SimTime span) override { now_ += span; }

 private:
  SimTime now_ = 0;
};

/// The host's steady clock; sleeps really sleep.
class RealClock : public SimClock {
 public:
  RealClock();
  SimTime now() override;
  void sleep(SimTime span) override;
  void spend(SimTime) override {}

 private:
  std::chrono::steady_clock::time_point start_;
};
