#include "MeterRegisters.h"

#include <cmath>

TMeterRegisters::TMeterRegisters(const TSimulatedMeter& meter, const TSimClock& clock)
    : FMeter(meter), FClock(clock) {}

void TMeterRegisters::Refresh() {
  const TSimTime now = FClock.Now();
  const auto second = static_cast<long long>(std::floor(now.seconds));
  if (FRenderedSecond == second) return;
  FMeter.Render(now, FBank);
  FRenderedSecond = second;
}
