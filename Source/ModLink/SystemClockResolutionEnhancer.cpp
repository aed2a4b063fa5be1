#include "SystemClockResolutionEnhancer.h"

#include "ModLinkError.h"
#include "platform/TimerResolution.h"

TSystemClockResolutionEnhancer::TSystemClockResolutionEnhancer() {
  if (RequestTimerPeriod(RequestedPeriod)) FTimerInterval = RequestedPeriod;
  if (FTimerInterval == 0) ModLinkError(ModLinkMessages::SFailedEnhanceClock);
}

TSystemClockResolutionEnhancer::~TSystemClockResolutionEnhancer() {
  if (FTimerInterval != 0) ReleaseTimerPeriod(FTimerInterval);
  FTimerInterval = 0;
}

TSystemClockResolutionEnhancer& GSystemClockResolutionEnhancer() {
  static TSystemClockResolutionEnhancer Instance;
  return Instance;
}
