#pragma once
// The register space the front ends read: the simulated meter rendered at the
// current time, re-rendered when the clock has moved on to another second so
// that all registers of one second belong together.

#include <cstdint>
#include <optional>

#include "SimClock.h"
#include "SimulatedMeter.h"

class TMeterRegisters {
 public:
  TMeterRegisters(const TSimulatedMeter& meter, const TSimClock& clock);

  // Call once before answering a request.
  void Refresh();

  bool CanRead(std::uint16_t address) const { return FBank.CanRead(address); }
  std::uint16_t Value(std::uint16_t address) const { return FBank.Value(address); }

 private:
  const TSimulatedMeter& FMeter;
  const TSimClock& FClock;
  TRegisterBank FBank;
  std::optional<std::int64_t> FRenderedTick;
};
