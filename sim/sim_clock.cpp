#include "sim_clock.h"

#include <thread>

RealClock::RealClock() : start_(std::chrono::steady_clock::now()) {}

SimTime RealClock::now() {
  auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<SimTime>(
      std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void RealClock::sleep(SimTime span) {
  std::this_thread::sleep_for(std::chrono::microseconds(span));
}
