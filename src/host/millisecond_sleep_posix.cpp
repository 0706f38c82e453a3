#include <cerrno>
#include <ctime>

#include "host/millisecond_sleep.h"

void SystemSleeper::sleepMs(unsigned ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
