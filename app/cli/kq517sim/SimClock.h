#pragma once
// The simulator's notion of "now": the local wall clock, or a fixed moment
// given on the command line so that served values are reproducible. A reader
// may set the meter's clock: from then on it runs on from the moment written,
// a fixed clock too.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

// One moment as the meter shows it: its local calendar and clock, and a
// continuous seconds count that drives the moving values.
struct TSimTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
  double seconds = 0;  // seconds since 1970-01-01 00:00:00 of the local calendar
  double elapsed = 0;  // seconds since the simulator started (0 with a fixed clock)
};

class TSimClock {
 public:
  // A clock that follows the local wall clock, starting now.
  TSimClock();
  // A clock frozen at `fixed`: every call of Now() returns it with elapsed 0.
  explicit TSimClock(const TSimTime& fixed);

  TSimTime Now() const;
  // A number that changes when the clock moves on to another second, cheap to
  // read: no calendar or time-zone conversion. Local seconds begin with the
  // system's, since time zones differ from it by whole seconds.
  std::int64_t SecondTick() const;
  bool IsFixed() const { return FFixed.has_value() && !FSetAt; }
  // The clock now reads `moment` and runs on from there.
  void Set(const TSimTime& moment);

 private:
  std::optional<TSimTime> FFixed;
  std::optional<std::chrono::steady_clock::time_point> FSetAt;
  double FSetSeconds = 0;
  double FStartSeconds = 0;
};

// "YYYY-MM-DDTHH:MM:SS" (or with a blank instead of "T") as a fixed moment;
// nothing when the text is not a valid date and time.
std::optional<TSimTime> ParseSimTime(std::string_view text);

// The calendar and clock of a whole second of the local calendar (seconds
// since 1970-01-01 00:00:00), with `seconds` set to it and `elapsed` 0.
TSimTime SimTimeAt(std::int64_t localSeconds);
