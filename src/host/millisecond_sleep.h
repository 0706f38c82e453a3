// Millisecond waits, behind a seam where a simulated clock can stand in.
#pragma once

/// Something that waits for a number of milliseconds.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleepMs(unsigned ms) = 0;
};

/// The platform's own sleep.
class SystemSleeper : public Sleeper {
 public:
  void sleepMs(unsigned ms) override;
};
