#pragma once
// The meter's clock: the map entries that hold its date and time (OBIS
// 0-0:1.0.0 with a date type and with a time type), reading them against the
// computer's local time, and the words that set them to a given moment.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "RegisterSource.h"
#include "RegisterTypes.h"

// OBIS code of the meter's current date and time.
inline constexpr char CLOCK_OBIS[] = "0-0:1.0.0";

// Where the clock sits in one map layout.
struct TClockLayout {
  std::uint16_t DateAddress = 0;
  ERegisterType DateType = eDate;  // eDate or eDate3
  std::uint16_t TimeAddress = 0;
  ERegisterType TimeType = eTime;  // eTime or eTime3
  // The block that holds both, read in one request so that date and time
  // belong to the same moment.
  std::uint16_t First() const;
  std::uint32_t Count() const;
};

// The clock entries of a map at the layout Settings choose; none when the map
// has no date or no time entry with the clock's OBIS code, or they lie past
// register 65535.
std::optional<TClockLayout> FindClock(const std::vector<TConfigRecord>& Regs,
                                      const TMapSettings& Settings);

// A moment of a local calendar, in whole seconds since 1970-01-01 00:00:00
// of that calendar (the time zone is not in it).
using TLocalSeconds = std::int64_t;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month
// and day from 1).
std::int64_t DaysFromCivil(std::int64_t Year, int Month, int Day);
// The computer's local calendar now.
TLocalSeconds ComputerLocalSeconds();
// The local seconds of a packed date yyyymmdd and time hhmmss; none when they
// are no real calendar day or time of day.
std::optional<TLocalSeconds> LocalSecondsOf(std::int32_t PackedDate, std::int32_t PackedTime);
// The packed date yyyymmdd and time hhmmss of a moment.
std::pair<std::int32_t, std::int32_t> PackedDateTime(TLocalSeconds Seconds);
// "2026-12-09 15:25:43".
std::string LocalSecondsText(TLocalSeconds Seconds);

// One look at the meter's clock.
struct TClockReading {
  bool Ok = false;
  std::string Error;            // why not: the read failed, or no valid date and time
  TLocalSeconds Meter = 0;      // the meter's date and time
  TLocalSeconds Computer = 0;   // the computer's when the reply came
  std::int64_t Difference = 0;  // Meter - Computer, seconds
};

// The meter's clock from the words of Layout's block (first word at
// Layout.First()), against Computer.
TClockReading ClockFromWords(const TClockLayout& Layout, const std::vector<std::uint16_t>& Words,
                             EByteSequence Sequence, TLocalSeconds Computer);

// Reads the block and compares it with the computer's clock.
TClockReading ReadMeterClock(TRegisterSource& Source, const TClockLayout& Layout,
                             EByteSequence Sequence);

// "meter 2026-12-09 10:20:30, computer 2026-12-09 10:20:31, difference -1 s",
// or "not read: " and the reason; in Italian for the report in Italian.
std::string ClockCheckText(const TClockReading& Reading, bool Italian = false);

// The writes that set the clock to Moment: one block when date and time are
// adjacent (so that they change together), otherwise one per entry.
std::vector<std::pair<std::uint16_t, std::vector<std::uint16_t>>> ClockWrites(
    const TClockLayout& Layout, TLocalSeconds Moment, EByteSequence Sequence);
