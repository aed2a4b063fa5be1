#include "CycleRecord.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

std::string Iso8601LocalTime(std::chrono::system_clock::time_point Time) {
  const auto sinceEpoch = Time.time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds);
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm local{};
  localtime_r(&whole, &local);
  const int offset = static_cast<int>(local.tm_gmtoff / 60) % (24 * 60);  // minutes east of UTC
  const int absolute = offset < 0 ? -offset : offset;
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis.count()), offset < 0 ? '-' : '+',
                absolute / 60, absolute % 60);
  return text;
}

bool IsNumericType(ERegisterType Type) {
  return Type == eWord || Type == eInteger || Type == eFloat || Type == eDouble;
}

nlohmann::ordered_json RowValue(const std::string& Text, ERegisterType Type) {
  if (Text == NOT_AVAIL) return nullptr;
  if (!IsNumericType(Type)) return Text;
  const char* begin = Text.data();
  const char* end = begin + Text.size();
  if (Type == eWord || Type == eInteger) {
    long long whole = 0;
    const auto [at, error] = std::from_chars(begin, end, whole);
    if (error == std::errc{} && at == end) return whole;
  }
  double number = 0;  // from_chars ignores the locale: the text carries '.'
  const auto [at, error] = std::from_chars(begin, end, number);
  if (error != std::errc{} || at != end || !std::isfinite(number)) return nullptr;
  return number;
}

nlohmann::ordered_json CycleJson(const TCycleRecord& Record) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < Record.Rows.size(); ++i) {
    const TGridRow& row = Record.Rows[i];
    const ERegisterType type = i < Record.Types.size() ? Record.Types[i] : eTimeStamp12;
    nlohmann::ordered_json address = nullptr;
    long long number = 0;
    const std::string& addressText = row[gcAddress];
    if (std::from_chars(addressText.data(), addressText.data() + addressText.size(), number).ec ==
        std::errc{})
      address = number;
    rows.push_back({{"address", address},
                    {"type", row[gcType]},
                    {"obis", row[gcObis]},
                    {"value", RowValue(row[gcValue], type)},
                    {"text", row[gcValue]},
                    {"raw", row[gcRawValue]},
                    {"description", row[gcDescription]}});
  }
  return {{"time", Iso8601LocalTime(Record.Time)},
          {"cycle", Record.Cycle},
          {"ok", Record.Ok},
          {"error", Record.Ok ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(Record.Error)},
          {"meter", Record.Meter},
          {"rows", rows}};
}
