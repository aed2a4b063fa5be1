#pragma once
// What a map entry's value text means as a number, and in which unit: for
// the value log (numbers always with '.') and the trend chart (numeric
// entries only, one axis per unit).

#include <optional>
#include <string>
#include <string_view>

#include "RegisterTypes.h"

// Integers and floating-point values; dates, times and time stamps are not
// numbers to chart.
bool HasNumericValue(ERegisterType Type);

// Text as the decoding wrote it with DecimalSeparator, with '.' instead.
// Only numbers carry a separator, so other texts come back unchanged.
std::string WithDecimalPoint(std::string Text, std::string_view DecimalSeparator);

// The number a value text shows; none for "<N/A>", "NAN", "INF" and anything
// that is not a whole number text.
std::optional<double> NumericValue(const std::string& Text, std::string_view DecimalSeparator);

// The unit in a description's last parentheses: "V" for "Tensione
// istantanea fase L1 (V)"; empty when there is none.
std::string UnitOf(const std::string& Description);
