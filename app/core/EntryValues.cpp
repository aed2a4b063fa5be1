#include "EntryValues.h"

#include <charconv>
#include <cmath>

bool HasNumericValue(ERegisterType Type) {
  return Type == eWord || Type == eInteger || Type == eFloat || Type == eDouble;
}

std::string WithDecimalPoint(std::string Text, std::string_view DecimalSeparator) {
  if (DecimalSeparator.empty() || DecimalSeparator == ".") return Text;
  if (const auto at = Text.find(DecimalSeparator); at != std::string::npos) {
    Text[at] = '.';
    Text.erase(at + 1, DecimalSeparator.size() - 1);
  }
  return Text;
}

std::optional<double> NumericValue(const std::string& Text, std::string_view DecimalSeparator) {
  const std::string number = WithDecimalPoint(Text, DecimalSeparator);
  double value = 0;
  const char* end = number.data() + number.size();
  const auto [at, error] = std::from_chars(number.data(), end, value);  // never the locale's
  if (number.empty() || error != std::errc{} || at != end || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string UnitOf(const std::string& Description) {
  const auto close = Description.rfind(')');
  if (close == std::string::npos) return {};
  const auto open = Description.rfind('(', close);
  if (open == std::string::npos) return {};
  return Description.substr(open + 1, close - open - 1);
}
