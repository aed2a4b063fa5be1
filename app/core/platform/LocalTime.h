#pragma once
// The local calendar time of a moment, thread-safe, with the zone's offset from UTC.

#include <ctime>

struct TLocalTime {
  std::tm Fields{};
  int UtcOffsetMinutes = 0;  // minutes east of UTC, daylight saving included
};

TLocalTime LocalTime(std::time_t Moment);
