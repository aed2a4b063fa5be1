#include "PollLoop.h"

#include <exception>

#include "MeterPresence.h"
#include "ValueDecoding.h"

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

}  // namespace

TCycleRecord RecordOf(const TRegisterMap& Map, const TPollOptions& Options, int Cycle,
                      const TCycleOutcome& Outcome) {
  TCycleRecord record;
  record.Cycle = Cycle;
  record.Ok = Outcome.Ok;
  record.Error =
      Outcome.MeterAbsent ? MeterNotPresentText(Options.MeterInstanceIndex) : Outcome.Error;
  record.Meter = Options.MeterInstanceIndex + 1;
  const std::size_t entries = Map.Regs().size();
  record.Rows.resize(entries);
  record.Types.resize(entries);
  record.Numbers.resize(entries);
  for (std::size_t i = 0; i < entries; ++i) {
    const TConfigRecord& entry = Map.Regs()[i];
    TEntryReading reading =
        i < Outcome.Entries.size() ? Outcome.Entries[i] : TEntryReading{NOT_AVAIL, NOT_AVAIL, {}};
    if (Outcome.MeterAbsent) {
      reading.Text = NOT_AVAIL;
      reading.Number = {};
    }
    record.Rows[i] = {entry.regAddress,
                      DataTypeName(entry.regType, Options.Float32),
                      entry.obis,
                      std::move(reading.Text),
                      std::move(reading.Raw),
                      entry.desc};
    record.Types[i] = entry.regType;
    record.Numbers[i] = reading.Number;
  }
  return record;
}

int RunPollLoop(TCycleSource& Source, const TRegisterMap& Map, const TPollOptions& Options,
                const TPollLoopHooks& Hooks, std::ostream& Err) {
  const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::duration<double>(Options.IntervalSeconds));
  const std::string of = Options.Count > 0 ? " of " + std::to_string(Options.Count) : "";
  int status = POLL_EXIT_OK;
  for (int n = 1; Options.Count == 0 || n <= Options.Count; ++n) {
    if (n > 1 && Hooks.WaitOrStop && Hooks.WaitOrStop(pause)) break;
    const auto started = std::chrono::system_clock::now();
    const auto clock = std::chrono::steady_clock::now();
    TCycleOutcome outcome;
    try {
      outcome = Source.RunCycle();
    } catch (const std::exception& error) {
      Err << PROGRAM << error.what() << '\n';
      return POLL_EXIT_FAILED;
    }
    if (Hooks.Stopped && Hooks.Stopped()) break;
    TCycleRecord record = RecordOf(Map, Options, n, outcome);
    record.Time = started;
    record.Duration = std::chrono::steady_clock::now() - clock;
    if (!outcome.Ok) {
      status = POLL_EXIT_FAILED;
      Err << PROGRAM << "cycle " << n << of << ": " << record.Error << std::endl;
    }
    if (Hooks.OnCycle && !Hooks.OnCycle(record)) return POLL_EXIT_FAILED;
    const EAfterCycle after = AfterCycle(outcome, Options.KeepGoing);
    if (after == EAfterCycle::acRestart) Source.Restart();
    if (after == EAfterCycle::acEnd) break;  // the window stops its poll here too
  }
  return status;
}
