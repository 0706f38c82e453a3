// The calendar time in UTC, as the feed, the log and the record of the modules write it.
#pragma once

#include <chrono>
#include <ctime>

/// |at| broken down in UTC.
std::tm utcOf(std::chrono::system_clock::time_point at);
