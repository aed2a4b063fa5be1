#include "../TimerResolution.h"

#include <time.h>

// Linux timers are fine-grained already: the period is granted when the monotonic clock
// resolves it, and there is nothing to give back.
bool RequestTimerPeriod(std::uint32_t PeriodMs) {
  timespec Resolution{};
  return PeriodMs > 0 && clock_getres(CLOCK_MONOTONIC, &Resolution) == 0 &&
         Resolution.tv_sec == 0 && Resolution.tv_nsec <= static_cast<long>(PeriodMs) * 1'000'000L;
}

void ReleaseTimerPeriod(std::uint32_t) {}
