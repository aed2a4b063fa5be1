#include "MeterRegisters.h"

#include <cmath>

namespace {

bool InEntry(std::uint16_t first, ERegisterType type, std::uint16_t address) {
  return address >= first && address < first + RegisterWidth(type, false);
}

bool Covers(const TClockLayout& clock, std::uint16_t address) {
  return InEntry(clock.DateAddress, clock.DateType, address) ||
         InEntry(clock.TimeAddress, clock.TimeType, address);
}

}  // namespace

TMeterRegisters::TMeterRegisters(const TSimulatedMeter& meter, TSimClock& clock, bool readOnly)
    : FMeter(meter), FClock(clock), FReadOnly(readOnly) {
  const bool qvzt = meter.Settings().mapType == mpQVZT;
  for (int instance = 0; instance < METER_INSTANCE_COUNT; ++instance) {
    for (bool float32 : {false, true}) {
      if (float32 && qvzt) continue;
      if (const auto layout = FindClock(meter.Entries(), TMapSettings{float32, instance}))
        FClocks.push_back(*layout);
    }
  }
  FClockWritten.assign(FClocks.size(), false);
}

// The local time is converted only when the second has changed, not per request.
void TMeterRegisters::Refresh() {
  SetClockFromWritten();
  const std::int64_t tick = FClock.SecondTick();
  if (FRenderedTick == tick) return;
  FMeter.Render(FClock.Now(), FBank);
  for (const auto& [address, value] : FWritten) FBank.Store(address, {value});
  FRenderedTick = tick;
}

bool TMeterRegisters::CanWrite(std::uint16_t address) const {
  if (FReadOnly || !FBank.CanRead(address)) return false;
  const int instance = address / MB_METER_INSTANCE_STRIDE;
  return instance < METER_INSTANCE_COUNT &&
         FMeter.Settings().instanceOn[static_cast<std::size_t>(instance)];
}

void TMeterRegisters::Write(std::uint16_t address, std::uint16_t value) {
  FWritten[address] = value;
  FBank.Store(address, {value});
  for (std::size_t i = 0; i < FClocks.size(); ++i)
    if (Covers(FClocks[i], address)) FClockWritten[i] = true;
}

// A clock that reads a valid date and time after a write sets the simulator's
// clock; its registers then follow the clock again. One that does not keeps
// what was written, as a meter would show it.
void TMeterRegisters::SetClockFromWritten() {
  for (std::size_t i = 0; i < FClocks.size(); ++i) {
    if (!FClockWritten[i]) continue;
    FClockWritten[i] = false;
    const TClockLayout& clock = FClocks[i];
    std::vector<std::uint16_t> words;
    for (std::uint32_t k = 0; k < clock.Count(); ++k)
      words.push_back(FBank.Value(static_cast<std::uint16_t>(clock.First() + k)));
    const TClockReading reading = ClockFromWords(clock, words, FMeter.Settings().byteSequence, 0);
    if (!reading.Ok) continue;
    FClock.Set(SimTimeAt(reading.Meter));
    std::erase_if(FWritten, [this](const auto& written) {
      for (const TClockLayout& any : FClocks)
        if (Covers(any, written.first)) return true;
      return false;
    });
    FRenderedTick.reset();
  }
}
