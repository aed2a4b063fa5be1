#include "RegisterRows.h"

#include <cmath>
#include <cstdio>

#include "EntryValues.h"
#include "ValueDecoding.h"

namespace {

// The wire bytes of Count words from At (high byte first), or none when the
// words end before.
std::optional<std::vector<std::uint8_t>> Wire(const std::vector<std::uint16_t>& Words,
                                              std::size_t At, std::size_t Count) {
  if (At + Count > Words.size()) return std::nullopt;
  std::vector<std::uint8_t> wire;
  for (std::size_t i = At; i < At + Count; ++i) {
    wire.push_back(static_cast<std::uint8_t>(Words[i] >> 8));
    wire.push_back(static_cast<std::uint8_t>(Words[i] & 0xFF));
  }
  return wire;
}

template <typename T>
std::string RealText(const std::optional<T>& Value) {
  if (!Value) return {};
  if (std::isnan(*Value)) return "NAN";
  if (std::isinf(*Value)) return *Value < 0 ? "-INF" : "INF";
  return ShortestNumberText(TEntryNumber{*Value}).value_or("");
}

}  // namespace

std::vector<TRegisterRow> RegisterRows(std::uint16_t Start, const std::vector<std::uint16_t>& Words,
                                       EByteSequence Sequence) {
  std::vector<TRegisterRow> rows;
  rows.reserve(Words.size());
  for (std::size_t i = 0; i < Words.size(); ++i) {
    TRegisterRow row;
    row.Address = Start + static_cast<std::uint32_t>(i);
    row.Word = Words[i];
    if (const auto wire = Wire(Words, i, 2)) {
      row.Int32 = static_cast<std::int32_t>(
          std::get<std::int64_t>(DecodeNumber(eInteger, wire->data(), Sequence, false)));
      row.Float32 = std::get<float>(DecodeNumber(eFloat, wire->data(), Sequence, false));
    }
    if (const auto wire = Wire(Words, i, 4))
      row.Float64 = std::get<double>(DecodeNumber(eDouble, wire->data(), Sequence, false));
    rows.push_back(row);
  }
  return rows;
}

TRegisterRowTexts RegisterRowTexts(const TRegisterRow& Row) {
  TRegisterRowTexts texts;
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(Row.Word));
  texts.Address = std::to_string(Row.Address);
  texts.Hex = hex;
  texts.Unsigned16 = std::to_string(Row.Word);
  texts.Signed16 = std::to_string(static_cast<std::int16_t>(Row.Word));
  texts.Int32 = Row.Int32 ? std::to_string(*Row.Int32) : "";
  texts.Float32 = RealText(Row.Float32);
  texts.Float64 = RealText(Row.Float64);
  return texts;
}
