#pragma once
// The register space the front ends read and write: the simulated meter
// rendered at the current time, re-rendered when the clock has moved on to
// another second so that all registers of one second belong together. A
// written register keeps the value written from then on; a written clock (the
// date and time entries of OBIS 0-0:1.0.0) sets the simulator's clock, which
// runs on from the moment written.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "MeterClock.h"
#include "SimClock.h"
#include "SimulatedMeter.h"

class TMeterRegisters {
 public:
  TMeterRegisters(const TSimulatedMeter& meter, TSimClock& clock, bool readOnly = false);

  // Call once before answering a request.
  void Refresh();

  bool CanRead(std::uint16_t address) const { return FBank.CanRead(address); }
  std::uint16_t Value(std::uint16_t address) const { return FBank.Value(address); }
  // A register of the map of a meter instance that is switched on, unless
  // the simulator is read-only.
  bool CanWrite(std::uint16_t address) const;
  void Write(std::uint16_t address, std::uint16_t value);

 private:
  void SetClockFromWritten();

  const TSimulatedMeter& FMeter;
  TSimClock& FClock;
  bool FReadOnly;
  TRegisterBank FBank;
  std::optional<std::int64_t> FRenderedTick;
  std::map<std::uint16_t, std::uint16_t> FWritten;
  // The clock of every instance and layout, and those written since the last refresh.
  std::vector<TClockLayout> FClocks;
  std::vector<bool> FClockWritten;
};
