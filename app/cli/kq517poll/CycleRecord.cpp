#include "CycleRecord.h"

#include <algorithm>
#include <charconv>

#include "TrafficEntry.h"
#include "ValueDecoding.h"

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

std::string NullOr(const std::optional<std::string>& Text, bool Quoted) {
  if (!Text) return "null";
  return Quoted ? JsonString(*Text) : *Text;
}

bool SameEntry(const TGridRow& A, const TGridRow& B) {
  return A[gcAddress] == B[gcAddress] && A[gcType] == B[gcType] && A[gcObis] == B[gcObis] &&
         A[gcDescription] == B[gcDescription];
}

}  // namespace

std::string RowValueJson(const std::string& Text, ERegisterType Type, const TEntryNumber& Number) {
  if (Text == NOT_AVAIL) return "null";
  if (HasNumericValue(Type)) return NullOr(ShortestNumberText(Number), false);
  const auto* packed = std::get_if<std::int64_t>(&Number);
  switch (Type) {
    case eDate:
    case eDate3:
      return NullOr(packed ? IsoDateText(static_cast<std::int32_t>(*packed)) : std::nullopt, true);
    case eTime:
    case eTime3:
      return NullOr(packed ? IsoTimeOfDayText(static_cast<std::int32_t>(*packed)) : std::nullopt,
                    true);
    default:
      return JsonString(Text);
  }
}

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
  std::string line = "{\"time\":\"" + IsoTimeText(Record.Time) +
                     "\",\"cycle\":" + std::to_string(Record.Cycle) +
                     ",\"ok\":" + (Record.Ok ? "true" : "false") +
                     ",\"error\":" + (Record.Ok ? std::string("null") : JsonString(Record.Error)) +
                     ",\"meter\":" + std::to_string(Record.Meter) + ",\"rows\":[";
  for (std::size_t i = 0; i < Record.Rows.size(); ++i) {
    const TGridRow& row = Record.Rows[i];
    const TRowText& text = RowText(i, row);
    const ERegisterType type = i < Record.Types.size() ? Record.Types[i] : eTimeStamp12;
    const TEntryNumber number = i < Record.Numbers.size() ? Record.Numbers[i] : TEntryNumber{};
    if (i > 0) line += ',';
    line += text.Head;
    line += RowValueJson(row[gcValue], type, number);
    line += ",\"text\":";
    line += JsonString(row[gcValue]);
    line += ",\"raw\":";
    line += JsonString(row[gcRawValue]);
    line += text.Tail;
  }
  return line + "]}";
}
