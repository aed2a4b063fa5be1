#include "EntryValues.h"

#include <charconv>
#include <cmath>

bool HasNumericValue(ERegisterType Type) {
  return Type == eWord || Type == eInteger || Type == eFloat || Type == eDouble;
}

std::optional<double> NumberValue(const TEntryNumber& Number) {
  if (const auto* whole = std::get_if<std::int64_t>(&Number)) return static_cast<double>(*whole);
  if (const auto* single = std::get_if<float>(&Number)) return *single;
  if (const auto* real = std::get_if<double>(&Number)) return *real;
  return std::nullopt;
}

namespace {

// std::to_chars without a precision gives the shortest round trip, whatever
// the C library's locale.
template <typename T>
std::string Shortest(T Value) {
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, Value);
  return std::string(text, written.ptr);
}

}  // namespace

std::optional<std::string> ShortestNumberText(const TEntryNumber& Number) {
  if (const auto* whole = std::get_if<std::int64_t>(&Number)) return Shortest(*whole);
  if (const auto* single = std::get_if<float>(&Number))
    return std::isfinite(*single) ? std::optional(Shortest(*single)) : std::nullopt;
  if (const auto* real = std::get_if<double>(&Number))
    return std::isfinite(*real) ? std::optional(Shortest(*real)) : std::nullopt;
  return std::nullopt;
}

std::string UnitOf(const std::string& Description) {
  const auto close = Description.rfind(')');
  if (close == std::string::npos) return {};
  const auto open = Description.rfind('(', close);
  if (open == std::string::npos) return {};
  return Description.substr(open + 1, close - open - 1);
}
