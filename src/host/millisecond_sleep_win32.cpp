#include <windows.h>

#include "host/millisecond_sleep.h"

void SystemSleeper::sleepMs(unsigned ms) {
  Sleep(ms);
}
