#include "PollLoop.h"

#include <exception>

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

TCycleRecord RecordOf(const TRegisterMap& Map, const TPollOptions& Options, int Cycle,
                      const TCycleOutcome& Outcome) {
  TCycleRecord record;
  record.Cycle = Cycle;
  record.Ok = Outcome.Ok;
  record.Error = Outcome.Error;
  record.Meter = Options.MeterInstanceIndex + 1;
  record.Rows = Map.Grid().Rows();
  for (const TConfigRecord& entry : Map.Regs()) record.Types.push_back(entry.regType);
  if (Outcome.ValuesAbsent)
    for (TGridRow& row : record.Rows) row[gcValue] = NOT_AVAIL;
  return record;
}

}  // namespace

std::string MeterNotPresentText(int MeterInstanceIndex) {
  return "meter instance " + std::to_string(MeterInstanceIndex + 1) + " not present";
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
    TCycleRecord record = RecordOf(Map, Options, n, outcome);
    record.Time = started;
    record.Duration = std::chrono::steady_clock::now() - clock;
    if (!outcome.Ok) {
      status = POLL_EXIT_FAILED;
      Err << PROGRAM << "cycle " << n << of << ": " << outcome.Error << std::endl;
    }
    if (Hooks.OnCycle && !Hooks.OnCycle(record)) return POLL_EXIT_FAILED;
    if (outcome.Ok) continue;
    if (Options.KeepGoing)
      Source.Restart();
    else if (outcome.EndsPoll)
      break;  // the window stops its poll here too
  }
  return status;
}
