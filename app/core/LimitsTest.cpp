#include "LimitsTest.h"

#include <algorithm>
#include <cmath>

#include "MeterPresence.h"
#include "ValueDecoding.h"

namespace {

bool Within(const TLimit& Limit, double Value) {
  if (std::isnan(Value)) return false;
  return (!Limit.Min || Value >= *Limit.Min) && (!Limit.Max || Value <= *Limit.Max);
}

}  // namespace

const char* VerdictWord(ELimitVerdict Verdict) {
  switch (Verdict) {
    case ELimitVerdict::lvPass:
      return "PASS";
    case ELimitVerdict::lvFail:
      return "FAIL";
    case ELimitVerdict::lvNotRead:
      break;
  }
  return "NOT READ";
}

TLimitsTest::TLimitsTest(const std::vector<TLimit>& Limits,
                         const std::vector<TConfigRecord>& Regs) {
  for (const TLimit& limit : Limits) {
    bool inMap = false;
    for (std::size_t i = 0; i < Regs.size(); ++i) {
      if (Regs[i].obis != limit.Obis || !HasNumericValue(Regs[i].regType)) continue;
      inMap = true;
      TLimitOutcome outcome;
      outcome.Limit = limit;
      outcome.Description = Regs[i].desc;
      outcome.EntryIndex = static_cast<int>(i);
      FOutcomes.push_back(outcome);
    }
    if (!inMap) {
      TLimitOutcome outcome;
      outcome.Limit = limit;
      outcome.LastText = NOT_AVAIL;
      // A date or a time has no number to hold to limits: named, not missing.
      for (const TConfigRecord& entry : Regs) {
        if (entry.obis != limit.Obis) continue;
        outcome.NotNumeric = true;
        outcome.Description = entry.desc;
        break;
      }
      FOutcomes.push_back(outcome);
    }
  }
}

void TLimitsTest::AddCycle(const std::vector<TEntryReading>& Entries, const TNotReadCause& Cause) {
  ++FCycles;
  for (TLimitOutcome& outcome : FOutcomes) {
    if (outcome.EntryIndex < 0) continue;
    const auto index = static_cast<std::size_t>(outcome.EntryIndex);
    const bool read = index < Entries.size();
    outcome.LastText = read ? Entries[index].Text : NOT_AVAIL;
    if (!read || !NumberValue(Entries[index].Number)) {
      if (Cause.AbsentMeterIndex >= 0 || !Cause.Error.empty()) {
        outcome.AbsentMeterIndex = Cause.AbsentMeterIndex;
        outcome.CycleError = Cause.Error;
      }
    }
    // NaN and the infinities are read, and lie outside any limits.
    const std::optional<double> value = read ? NumberValue(Entries[index].Number) : std::nullopt;
    if (!value) continue;
    ++outcome.CyclesRead;
    if (!Within(outcome.Limit, *value)) ++outcome.CyclesOutside;
    if (!std::isnan(*value)) {
      outcome.Lowest = std::min(outcome.Lowest.value_or(*value), *value);
      outcome.Highest = std::max(outcome.Highest.value_or(*value), *value);
    }
  }
  for (TLimitOutcome& outcome : FOutcomes) {
    outcome.Verdict = outcome.CyclesOutside > 0 ? ELimitVerdict::lvFail
                      : outcome.CyclesRead == FCycles && outcome.EntryIndex >= 0
                          ? ELimitVerdict::lvPass
                          : ELimitVerdict::lvNotRead;
  }
}

bool TLimitsTest::Passed() const {
  return FCycles > 0 && std::all_of(FOutcomes.begin(), FOutcomes.end(), [](const TLimitOutcome& o) {
           return o.Verdict == ELimitVerdict::lvPass;
         });
}

std::string NotReadText(const TLimitOutcome& Outcome, bool Italian) {
  if (Outcome.NotNumeric) return Italian ? "non numerica" : "not numeric";
  if (Outcome.AbsentMeterIndex >= 0)
    return Italian ? MeterNotPresentWindowText(Outcome.AbsentMeterIndex)
                   : MeterNotPresentText(Outcome.AbsentMeterIndex);
  return Outcome.CycleError;
}

std::string TLimitsTest::Summary(bool Italian) const {
  const auto count = [this](ELimitVerdict v) {
    return std::count_if(FOutcomes.begin(), FOutcomes.end(),
                         [v](const TLimitOutcome& o) { return o.Verdict == v; });
  };
  const std::string all = std::to_string(FOutcomes.size());
  if (Italian) {
    const std::string cycles =
        FCycles == 1 ? std::string(" in 1 ciclo") : " in " + std::to_string(FCycles) + " cicli";
    if (Passed()) return "Superato: " + all + " voci su " + all + " entro i limiti" + cycles;
    std::string text = "Non superato: " + std::to_string(count(ELimitVerdict::lvFail)) + " su " +
                       all + " fuori limite";
    if (const auto notRead = count(ELimitVerdict::lvNotRead); notRead > 0)
      text += ", " + std::to_string(notRead) + " non lette,";
    return text + cycles;
  }
  const std::string cycles =
      " in " + std::to_string(FCycles) + " cycle" + (FCycles == 1 ? "" : "s");
  if (Passed()) return "PASS: " + all + " of " + all + " entries within their limits" + cycles;
  std::string text = "FAIL: " + std::to_string(count(ELimitVerdict::lvFail)) + " of " + all +
                     " entries outside their limits";
  if (const auto notRead = count(ELimitVerdict::lvNotRead); notRead > 0)
    text += ", " + std::to_string(notRead) + " not read";
  return text + cycles;
}

TLimitsRunResult RunLimitsTest(TRegisterMap& Map, TRegisterSource& Source,
                               const TLimitsRunSettings& Settings, TLimitsTest& Test,
                               const TLimitsRunHooks& Hooks) {
  TLimitsRunResult result;
  const TMapSettings mapSettings{Settings.Float32, Settings.MeterInstanceIndex};
  Map.SetBaseAddress(BaseAddressFor(mapSettings));
  Map.UpdateGridStruct();
  const TDecodeOptions options{Settings.Qvzt ? BS_0_1_2_3 : Settings.ByteSequence, Settings.Float32,
                               Settings.Qvzt ? EDecodePath::dpTCP : EDecodePath::dpSerial};
  for (int cycle = 1; cycle <= Settings.Count; ++cycle) {
    if (cycle > 1 && Hooks.WaitOrStop && Hooks.WaitOrStop(Settings.Interval)) break;
    const TRegisterRead read =
        Source.ReadTable(Settings.Function, Map.BaseAddress(), Map.RequestSize(mapSettings));
    std::string error = read.Error;
    TNotReadCause cause{-1, read.Error};
    bool shown = false;
    if (read.Ok) {
      DecodeRegisters(Map, read.Words, options);
      if (MeterInstanceAbsent(Map.Regs(), read.Words)) {
        error = Settings.ItalianTexts ? MeterNotPresentWindowText(Settings.MeterInstanceIndex)
                                      : MeterNotPresentText(Settings.MeterInstanceIndex);
        cause = TNotReadCause{Settings.MeterInstanceIndex, {}};
      } else if (!Map.Regs().empty() && IsFirmwareEntry(Map.Regs().front())) {
        result.Firmware = Map.RegData().front();
      }
      shown = error.empty();
      for (std::size_t i = 0; shown && i < Map.Regs().size(); ++i)
        if (Map.Regs()[i].obis == SERIAL_NUMBER_OBIS && Map.RegData()[i] != NOT_AVAIL)
          result.SerialNumber = Map.RegData()[i];
    }
    const std::vector<TEntryReading> entries = MapReadings(Map, shown);
    Map.UpdateGridData(entries, Settings.Float32);
    if (!error.empty()) {
      ++result.CyclesFailed;
      result.LastError = error;
    }
    Test.AddCycle(entries, cause);
    if (Hooks.OnCycle) Hooks.OnCycle(cycle, error);
  }
  return result;
}
