#include "SystemClockResolutionEnhancer.h"

#include <time.h>

#include "ModLinkError.h"

TSystemClockResolutionEnhancer::TSystemClockResolutionEnhancer() {
  timespec Resolution{};
  if (clock_getres(CLOCK_MONOTONIC, &Resolution) == 0 && Resolution.tv_sec == 0 &&
      Resolution.tv_nsec <= static_cast<long>(RequestedPeriod) * 1'000'000L)
    FTimerInterval = RequestedPeriod;
  if (FTimerInterval == 0) ModLinkError(ModLinkMessages::SFailedEnhanceClock);
}

TSystemClockResolutionEnhancer::~TSystemClockResolutionEnhancer() { FTimerInterval = 0; }

TSystemClockResolutionEnhancer& GSystemClockResolutionEnhancer() {
  static TSystemClockResolutionEnhancer Instance;
  return Instance;
}
