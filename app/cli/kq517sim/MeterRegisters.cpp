#include "MeterRegisters.h"

#include <cmath>

TMeterRegisters::TMeterRegisters(const TSimulatedMeter& meter, const TSimClock& clock)
    : FMeter(meter), FClock(clock) {}

// The local time is converted only when the second has changed, not per request.
void TMeterRegisters::Refresh() {
  const std::int64_t tick = FClock.SecondTick();
  if (FRenderedTick == tick) return;
  FMeter.Render(FClock.Now(), FBank);
  FRenderedTick = tick;
}
