// The multimedia timer's period: the default system tick (15.6 ms) would round the
// serial exchange's millisecond waits up.
#include "../TimerResolution.h"

#include <windows.h>
// <mmsystem.h> needs the types <windows.h> declares.
#include <mmsystem.h>

#include <algorithm>

bool RequestTimerPeriod(std::uint32_t PeriodMs) {
  TIMECAPS Caps{};
  if (PeriodMs == 0 || timeGetDevCaps(&Caps, sizeof Caps) != MMSYSERR_NOERROR) return false;
  const UINT Period = std::clamp<UINT>(PeriodMs, Caps.wPeriodMin, Caps.wPeriodMax);
  return Period == PeriodMs && timeBeginPeriod(Period) == TIMERR_NOERROR;
}

void ReleaseTimerPeriod(std::uint32_t PeriodMs) {
  timeEndPeriod(PeriodMs);
}
