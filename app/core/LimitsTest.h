#pragma once
// The commissioning test: a number of collection cycles, every value that
// has limits checked against them in each cycle, and a verdict per entry:
//   PASS      every cycle's value lay within the limits;
//   FAIL      at least one value lay outside them (a value that is not a
//             number, "NAN" or "INF", lies outside any limits);
//   NOT READ  no value was outside, but some cycle showed "<N/A>" (or the
//             map has no numeric entry with that OBIS code).
// The test passes only when every entry passes.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CycleOutcome.h"
#include "LimitsFile.h"
#include "RegisterMap.h"
#include "RegisterSource.h"

// The OBIS code of the meter's serial number.
inline constexpr char SERIAL_NUMBER_OBIS[] = "0-0:96.1.0";

enum class ELimitVerdict { lvPass, lvFail, lvNotRead };

// "PASS", "FAIL" or "NOT READ".
const char* VerdictWord(ELimitVerdict Verdict);

// One map entry held to one limit, over every cycle.
struct TLimitOutcome {
  TLimit Limit;
  std::string Description;  // the map entry's; empty when the map has none
  int EntryIndex = -1;      // in the map; -1 when the map has no such entry
  ELimitVerdict Verdict = ELimitVerdict::lvNotRead;
  std::optional<double> Lowest;  // of the values read
  std::optional<double> Highest;
  std::string LastText;  // the last cycle's value text ("<N/A>" when not read)
  int CyclesRead = 0;
  int CyclesOutside = 0;
  // The map's entry with that OBIS code holds a date or a time, no number.
  bool NotNumeric = false;
  // Why the last cycle that did not read the entry did not (empty: none failed).
  int AbsentMeterIndex = -1;  // the meter instance was switched off
  std::string CycleError;     // the cycle's error otherwise
};

// Why a cycle read no value: its meter instance (0..4) was switched off, or
// the cycle failed with Error.
struct TNotReadCause {
  int AbsentMeterIndex = -1;
  std::string Error;
};

// Why an entry is not read, for the dialog and the report: "non numerica",
// "Contatore 1 non presente" or the cycle's error (English when not Italian);
// empty when nothing says.
std::string NotReadText(const TLimitOutcome& Outcome, bool Italian);

class TLimitsTest {
 public:
  TLimitsTest(const std::vector<TLimit>& Limits, const std::vector<TConfigRecord>& Regs);

  // One cycle's readings, one per map entry; a failed cycle's show NOT_AVAIL,
  // and Cause says why.
  void AddCycle(const std::vector<TEntryReading>& Entries, const TNotReadCause& Cause = {});

  const std::vector<TLimitOutcome>& Outcomes() const { return FOutcomes; }
  int Cycles() const { return FCycles; }
  bool Passed() const;
  // "PASS: 16 of 16 entries within their limits in 5 cycles" or
  // "FAIL: 1 of 16 entries outside their limits, 2 not read, in 5 cycles";
  // in Italian "Superato: 16 voci su 16 entro i limiti in 5 cicli" or
  // "Non superato: 1 su 16 fuori limite, 2 non lette, in 5 cicli".
  std::string Summary(bool Italian = false) const;

 private:
  std::vector<TLimitOutcome> FOutcomes;
  int FCycles = 0;
};

struct TLimitsRunSettings {
  int MeterInstanceIndex = 0;  // 0..4
  bool Float32 = false;
  bool Qvzt = false;
  EByteSequence ByteSequence = BS_1_0_3_2;
  EReadFunction Function = DEFAULT_READ_FUNCTION;  // the table the poll reads the map from
  int Count = 1;
  std::chrono::milliseconds Interval{2000};
  // The cycles' errors in the window's words ("Contatore 2 non presente").
  bool ItalianTexts = false;
};

struct TLimitsRunHooks {
  // Waits the pause between cycles; true when the run is to stop instead.
  std::function<bool(std::chrono::milliseconds)> WaitOrStop;
  // After every cycle: its number (from 1) and why it failed (empty if it did not).
  std::function<void(int Cycle, const std::string& Error)> OnCycle;
};

struct TLimitsRunResult {
  int CyclesFailed = 0;
  std::string Firmware;      // the firmware word of the last cycle that read it
  std::string SerialNumber;  // the map entry SERIAL_NUMBER_OBIS of the last cycle that read it
  std::string LastError;     // why the last failed cycle failed
  std::string Clock;         // the clock check, when the caller read one (ClockCheckText)
};

// Runs the cycles: each reads the whole map from Source, decodes it into Map
// (whose grid texts then show that cycle) and adds its outcome to Test. A
// cycle that fails, or finds the meter instance switched off ("meter instance
// N not present"), counts as one in which nothing was read.
TLimitsRunResult RunLimitsTest(TRegisterMap& Map, TRegisterSource& Source,
                               const TLimitsRunSettings& Settings, TLimitsTest& Test,
                               const TLimitsRunHooks& Hooks);
