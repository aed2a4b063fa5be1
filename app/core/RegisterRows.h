#pragma once
// Registers that no map names, shown the way a technician looks at them: for
// each register its address, the word in hex, unsigned and signed, and read
// from that register on, the 32-bit integer, the IEEE single and the IEEE
// double in a byte sequence. Both the window's register dialog and the
// poller's --read show these rows.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "RegisterTypes.h"

struct TRegisterRow {
  std::uint32_t Address = 0;
  std::uint16_t Word = 0;
  // From this register on; none where the words read end too soon.
  std::optional<std::int32_t> Int32;
  std::optional<float> Float32;
  std::optional<double> Float64;
};

std::vector<TRegisterRow> RegisterRows(std::uint16_t Start, const std::vector<std::uint16_t>& Words,
                                       EByteSequence Sequence);

// The texts of a row's columns, '.' before decimals: "0x1234", "4660",
// "4660", and for the wider values the shortest text that reads back as the
// same number ("NAN", "INF", "-INF" for those); empty where there is none.
struct TRegisterRowTexts {
  std::string Address, Hex, Unsigned16, Signed16, Int32, Float32, Float64;
};
TRegisterRowTexts RegisterRowTexts(const TRegisterRow& Row);

// The column headers of those texts, in order: address, hex, u16, s16,
// int32, float32, float64.
inline constexpr const char* REGISTER_ROW_COLUMNS[] = {"address", "hex",     "u16",    "s16",
                                                       "int32",   "float32", "float64"};
