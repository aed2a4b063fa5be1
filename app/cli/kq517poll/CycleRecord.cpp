#include "CycleRecord.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/LocalTime.h"

std::string Iso8601LocalTime(std::chrono::system_clock::time_point Time) {
  const auto sinceEpoch = Time.time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds);
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  const TLocalTime zoned = LocalTime(whole);
  const std::tm& local = zoned.Fields;
  const int offset = zoned.UtcOffsetMinutes;
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

namespace {

std::string JsonText(const nlohmann::ordered_json& Value) {
  return Value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// A JSON string; the decoder's texts (digits, signs, '.', '/', ':', hex,
// "<N/A>") need no escaping and skip the serialiser.
std::string JsonString(const std::string& Text) {
  const bool plain = std::all_of(Text.begin(), Text.end(), [](char c) {
    return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
  });
  return plain ? '"' + Text + '"' : JsonText(Text);
}

bool SameEntry(const TGridRow& A, const TGridRow& B) {
  return A[gcAddress] == B[gcAddress] && A[gcType] == B[gcType] && A[gcObis] == B[gcObis] &&
         A[gcDescription] == B[gcDescription];
}

}  // namespace

const TCycleJsonWriter::TRowText& TCycleJsonWriter::RowText(std::size_t Index,
                                                            const TGridRow& Row) {
  if (FRows.size() <= Index) FRows.resize(Index + 1);
  TRowText& text = FRows[Index];
  if (text.Head.empty() || !SameEntry(text.Cells, Row)) {
    long long address = 0;
    const std::string& digits = Row[gcAddress];
    const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), address);
    text.Cells = Row;
    text.Head = "{\"address\":" +
                (parsed.ec == std::errc{} ? std::to_string(address) : std::string("null")) +
                ",\"type\":" + JsonString(Row[gcType]) + ",\"obis\":" + JsonString(Row[gcObis]) +
                ",\"value\":";
    text.Tail = ",\"description\":" + JsonString(Row[gcDescription]) + "}";
  }
  return text;
}

std::string TCycleJsonWriter::Line(const TCycleRecord& Record) {
  std::string line = "{\"time\":\"" + Iso8601LocalTime(Record.Time) +
                     "\",\"cycle\":" + std::to_string(Record.Cycle) +
                     ",\"ok\":" + (Record.Ok ? "true" : "false") +
                     ",\"error\":" + (Record.Ok ? std::string("null") : JsonString(Record.Error)) +
                     ",\"meter\":" + std::to_string(Record.Meter) + ",\"rows\":[";
  for (std::size_t i = 0; i < Record.Rows.size(); ++i) {
    const TGridRow& row = Record.Rows[i];
    const TRowText& text = RowText(i, row);
    const ERegisterType type = i < Record.Types.size() ? Record.Types[i] : eTimeStamp12;
    if (i > 0) line += ',';
    line += text.Head;
    line += JsonText(RowValue(row[gcValue], type));
    line += ",\"text\":";
    line += JsonString(row[gcValue]);
    line += ",\"raw\":";
    line += JsonString(row[gcRawValue]);
    line += text.Tail;
  }
  return line + "]}";
}
