#include "can/recycle.h"

#include "host/millisecond_sleep.h"

namespace {

CanStatus retry(CanPort& port, Sleeper& sleeper, CanStatus (CanPort::*call)()) {
  CanStatus status = (port.*call)();
  for (int attempt = 1; status != kCanOk && attempt < kRecycleAttempts; ++attempt) {
    sleeper.sleepMs(1);
    status = (port.*call)();
  }
  return status;
}

}  // namespace

CanStatus recycle(CanPort& port, Sleeper& sleeper) {
  CanStatus status = retry(port, sleeper, &CanPort::close);
  if (status != kCanOk) {
    return status;
  }
  return retry(port, sleeper, &CanPort::open);
}
