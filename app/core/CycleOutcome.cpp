#include "CycleOutcome.h"

#include "RegisterMap.h"

std::vector<TEntryReading> MapReadings(const TRegisterMap& Map, bool Shown) {
  const std::size_t count = Map.Regs().size();
  std::vector<TEntryReading> readings(count);
  for (std::size_t i = 0; i < count; ++i) {
    TEntryReading& reading = readings[i];
    if (!Shown) {
      reading.Text = NOT_AVAIL;
      reading.Raw = NOT_AVAIL;
      continue;
    }
    if (i < Map.RegData().size()) reading.Text = Map.RegData()[i];
    if (i < Map.RegRawData().size()) reading.Raw = Map.RegRawData()[i];
    if (i < Map.RegNumbers().size()) reading.Number = Map.RegNumbers()[i];
  }
  return readings;
}

std::string FailedBlockText(const TCycleOutcome& Outcome) {
  if (!Outcome.FailedBlock) return {};
  return " (registri " + std::to_string(Outcome.FailedBlock->First) + "-" +
         std::to_string(Outcome.FailedBlock->Last) + ")";
}

EAfterCycle AfterCycle(const TCycleOutcome& Outcome, bool KeepGoing) {
  if (Outcome.Ok) return EAfterCycle::acGoOn;
  if (KeepGoing) return EAfterCycle::acRestart;
  return Outcome.EndsPoll ? EAfterCycle::acEnd : EAfterCycle::acGoOn;
}
