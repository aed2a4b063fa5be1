#include "FieldInput.h"

#include <charconv>
#include <cmath>

#include "Commons.h"
#include "ValueDecoding.h"

namespace {

std::string Quoted(std::string_view Text) {
  return "\"" + std::string(Text) + "\"";
}

[[noreturn]] void NotANumber(std::string_view Field, const std::string& Text) {
  throw EConvertError("Il campo " + Quoted(Field) + " non contiene un numero: " + Quoted(Text));
}

std::string_view Trimmed(std::string_view Text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!Text.empty() && blank(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && blank(Text.back())) Text.remove_suffix(1);
  return Text;
}

// The typed text with '.' in place of the user's decimal separator.
std::string WithDecimalPoint(std::string Text, std::string_view DecimalSeparator) {
  if (DecimalSeparator.empty() || DecimalSeparator == ".") return Text;
  if (const auto at = Text.find(DecimalSeparator); at != std::string::npos) {
    Text[at] = '.';
    Text.erase(at + 1, DecimalSeparator.size() - 1);
  }
  return Text;
}

}  // namespace

double FieldDecimal(std::string_view Field, const std::string& Text,
                    std::string_view DecimalSeparator) {
  const std::string number = WithDecimalPoint(std::string(Trimmed(Text)), DecimalSeparator);
  // Only digits, one point and a leading sign: from_chars alone would also
  // take "1e3", "inf" and "nan".
  std::size_t digits = 0;
  std::size_t points = 0;
  for (std::size_t i = 0; i < number.size(); ++i) {
    const char c = number[i];
    if (c >= '0' && c <= '9')
      ++digits;
    else if (c == '.')
      ++points;
    else if (!(i == 0 && (c == '-' || c == '+')))
      NotANumber(Field, Text);
  }
  if (digits == 0 || points > 1) NotANumber(Field, Text);
  const char* first = number.data() + (number.front() == '+' ? 1 : 0);
  double value = 0;
  const auto [end, error] = std::from_chars(first, number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) NotANumber(Field, Text);
  return value;
}

int PollIntervalMilliseconds(std::string_view Field, const std::string& Text,
                             std::string_view DecimalSeparator) {
  const double seconds = FieldDecimal(Field, Text, DecimalSeparator);
  if (seconds == 0) return 0;
  const double milliseconds = std::round(seconds * 1000.0);
  if (milliseconds < MIN_POLL_INTERVAL_MS || seconds > MAX_POLL_INTERVAL_SECONDS) {
    throw EConvertError("Il campo " + Quoted(Field) + " vuole 0 oppure da " +
                        FormatFloat2(MIN_POLL_INTERVAL_MS / 1000.0, DecimalSeparator) + " a " +
                        std::to_string(MAX_POLL_INTERVAL_SECONDS) + " secondi: " + Quoted(Text));
  }
  return static_cast<int>(milliseconds);
}

int FieldInteger(std::string_view Field, const std::string& Text) {
  try {
    return StrToInt(Text);
  } catch (const EConvertError&) {
    NotANumber(Field, Text);
  }
}

int FieldPort(std::string_view Field, const std::string& Text) {
  const int port = FieldInteger(Field, Text);
  if (port < 0 || port > 65535)
    throw EConvertError("Il campo " + Quoted(Field) +
                        " vuole un numero di porta da 0 a 65535: " + Quoted(Text));
  return port;
}

std::uint8_t FieldUnitId(std::string_view Field, const std::string& Text) {
  const int unit = FieldInteger(Field, Text);
  if (unit < 0 || unit > 255)
    throw EConvertError("Il campo " + Quoted(Field) +
                        " vuole un numero da 0 a 255: " + Quoted(Text));
  return static_cast<std::uint8_t>(unit);
}

int FieldTimeoutMilliseconds(std::string_view Field, const std::string& Text,
                             std::string_view DecimalSeparator) {
  const double seconds = FieldDecimal(Field, Text, DecimalSeparator);
  const double milliseconds = std::round(seconds * 1000.0);
  if (milliseconds < MIN_POLL_INTERVAL_MS || seconds > MAX_REPLY_TIMEOUT_SECONDS)
    throw EConvertError("Il campo " + Quoted(Field) + " vuole da " +
                        FormatFloat2(MIN_POLL_INTERVAL_MS / 1000.0, DecimalSeparator) + " a " +
                        std::to_string(MAX_REPLY_TIMEOUT_SECONDS) + " secondi: " + Quoted(Text));
  return static_cast<int>(milliseconds);
}

std::uint8_t FieldSlaveAddress(std::string_view Field, const std::string& Text) {
  return static_cast<std::uint8_t>(FieldInteger(Field, Text) & 0xFF);
}
