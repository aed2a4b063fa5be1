// Holds a fine system timer period for the life of the library, so that the
// millisecond waits of the serial exchange (silent interval, hold and turnaround
// delays) are not rounded up to a coarse tick. The period is asked of the
// platform layer (platform/TimerResolution.h) and given back at shutdown.
#pragma once

#include <cstdint>

class TSystemClockResolutionEnhancer {
 public:
  // Raises EModLinkError "Failed to enhance system clock resolution" when the
  // clock cannot resolve the period.
  TSystemClockResolutionEnhancer();
  ~TSystemClockResolutionEnhancer();
  TSystemClockResolutionEnhancer(const TSystemClockResolutionEnhancer&) = delete;
  TSystemClockResolutionEnhancer& operator=(const TSystemClockResolutionEnhancer&) = delete;

  // The period held, in milliseconds; 0 when none.
  std::uint32_t TimerInterval() const { return FTimerInterval; }

  static constexpr std::uint32_t RequestedPeriod = 1;

 private:
  std::uint32_t FTimerInterval = 0;
};

// The process-wide instance, made on first use (every connection asks for it).
TSystemClockResolutionEnhancer& GSystemClockResolutionEnhancer();
