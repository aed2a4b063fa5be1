#pragma once
// How one collection cycle ended, as a value: whether it read the map, why
// not, the register words it got and every entry's reading (the number beside
// the text the grid shows), and when it ran. Both collection cycles produce
// it and raise one event with it; every consumer (the window's grid and error
// bar, the poller's outputs and metrics, the value log, the trend chart, the
// limits test) reads it and formats what it shows itself.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EntryValues.h"

class TRegisterMap;

// One map entry in one cycle.
struct TEntryReading {
  std::string Text;     // the value as the grid shows it, numbers "0.##" with '.'; NOT_AVAIL
  std::string Raw;      // the register bytes in hex; NOT_AVAIL when not read
  TEntryNumber Number;  // what Text was made from; none when it shows no value

  bool operator==(const TEntryReading&) const = default;
};

struct TCycleOutcome {
  // Every entry was read and decoded, and the meter instance answers.
  bool Ok = false;
  // The registers came back, but the firmware-version word reads 0xFFFF: the
  // meter instance is switched off. Each front end words this in its own
  // language, so Error stays empty.
  bool MeterAbsent = false;
  // The failure ends the poll unless the poll is to go on after failures (a
  // connection error, a kept-open connection found closed, a serial request
  // that could not be queued).
  bool EndsPoll = false;
  // The text of the red error bar: why the cycle did not read everything.
  // Empty when there is nothing to show.
  std::string Error;
  // First and last register of the block that failed, when a cycle that reads
  // in blocks lost one: the window names them beside Error.
  struct TRegisterRange {
    std::uint16_t First = 0;
    std::uint16_t Last = 0;
    bool operator==(const TRegisterRange&) const = default;
  };
  std::optional<TRegisterRange> FailedBlock;

  std::chrono::system_clock::time_point Time;  // when the cycle started
  int MeterInstanceIndex = 0;                  // 0..4 for instances 1..5
  std::uint16_t BaseAddress = 0;               // of the first register read
  std::vector<std::uint16_t> Words;            // the registers read, host order
  std::vector<TEntryReading> Entries;          // one per map entry, as the grid shows them
};

// The readings the map holds after its last decoding pass, or NOT_AVAIL for
// every entry when Shown is false (the grid's UpdateGridData(false)).
std::vector<TEntryReading> MapReadings(const TRegisterMap& Map, bool Shown);

// " (registri 1101-1140)" for the outcome's failed block; empty without one.
std::string FailedBlockText(const TCycleOutcome& Outcome);

// What a poll does after a cycle.
enum class EAfterCycle {
  acGoOn,     // the next tick runs the next cycle
  acRestart,  // a failed cycle of a poll that goes on after failures: the next
              // cycle starts as a new poll would (connecting afresh)
  acEnd,      // the poll stops here
};
EAfterCycle AfterCycle(const TCycleOutcome& Outcome, bool KeepGoing);
