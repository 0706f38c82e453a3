#include "utc_time.h"

std::tm utcOf(std::chrono::system_clock::time_point at) {
  std::time_t time = std::chrono::system_clock::to_time_t(at);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &time);
#else
  gmtime_r(&time, &utc);
#endif
  return utc;
}
