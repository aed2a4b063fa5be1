#pragma once
// What a map entry's value is as a number, and in which unit: the number the
// decoding found (kept beside the text the grid shows, so that no one parses
// a shown text back), the shortest text that reads back as that number (for
// JSON and the metrics), and the unit of the trend chart's axes.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "RegisterTypes.h"

// The decoded number of one entry: an integer for the integer types (and the
// packed yyyymmdd or hhmmss of dates and times), a float for a value that the
// meter sends as an IEEE single, a double for an IEEE double; nothing for a
// time stamp or an entry that was not read.
using TEntryNumber = std::variant<std::monostate, std::int64_t, float, double>;

// Integers and floating-point values; dates, times and time stamps are not
// quantities to chart, rate or export as numbers.
bool HasNumericValue(ERegisterType Type);

// The number as a double (NaN and the infinities included); none when there
// is no number.
std::optional<double> NumberValue(const TEntryNumber& Number);

// The shortest text that reads back as the same number in its own precision
// ("10836.387", "0.004", "227.27" for the single 227.27f), with '.'; none when
// there is no number or it is not finite.
std::optional<std::string> ShortestNumberText(const TEntryNumber& Number);

// The unit in a description's last parentheses: "V" for "Tensione
// istantanea fase L1 (V)"; empty when there is none.
std::string UnitOf(const std::string& Description);
