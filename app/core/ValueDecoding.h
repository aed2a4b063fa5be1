#pragma once
// Turning the register words of one collection cycle into numbers and display
// texts: byte sequences, hexadecimal dumps, type names, number, date and time
// texts, and the decoding pass shared by the TCP and the serial cycle. Texts
// are made with '.'; the user's decimal separator goes in only where a text is
// shown (WithDecimalSeparator).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "EntryValues.h"
#include "RegisterMap.h"
#include "RegisterTypes.h"

// Fills the value bytes pRegisters (least significant first) from the wire
// bytes pValues (first register's high byte first) following pByteSequence.
// pSize is 2, 4 or 8; for any other size, or a sequence outside 0..3, the
// destination is left untouched. Reads pSize bytes of pValues, writes pSize
// bytes of pRegisters.
void SmartSwap(EByteSequence pByteSequence, std::uint8_t* pRegisters, const std::uint8_t* pValues,
               std::int32_t pSize);

// Two uppercase hex digits per byte, from the last byte to the first; empty
// for a count of 0 or less.
std::string DumpHex(const std::uint8_t* pData, std::int32_t pSize);

// Type name of the grid's "Tipo" column ("INT16", "FLOAT64", "???", ...).
// eDouble reads "FLOAT32" when the float32 option is on.
std::string DataTypeName(ERegisterType pDataType, bool float32);

// Number pattern "0.##": at least one integer digit, at most two decimals
// rounded half away from zero, no trailing zeros, no thousands separator.
// "NAN", "INF" and "-INF" for the special values.
std::string FormatFloat2(double value, std::string_view decimalSeparator);

// A value text as the decoding writes it ('.' before the decimals), with
// Separator in place of the '.'. Only numbers carry a '.': dates, times,
// "<N/A>", "NAN" and "INF" come back unchanged.
std::string WithDecimalSeparator(std::string Text, std::string_view Separator);

// dd/mm/yyyy from v = yyyymmdd and hh:mm:ss from v = hhmmss, with signed
// division truncating toward zero; negative parts keep their "-".
std::string DateText(std::int32_t v);
std::string TimeText(std::int32_t v);

// ISO 8601 "2026-12-09" from v = yyyymmdd and "15:25:43" from v = hhmmss;
// none when v is no calendar date of the years 0 to 9999, or no time of day.
std::optional<std::string> IsoDateText(std::int32_t v);
std::optional<std::string> IsoTimeOfDayText(std::int32_t v);

// Which cycle runs the pass: the TCP cycle shows every value; the serial cycle
// shows values only when the first entry is a word other than 0xFFFF (the
// firmware version of an instance that answers) and NOT_AVAIL otherwise.
enum class EDecodePath : std::uint8_t { dpTCP, dpSerial };

struct TDecodeOptions {
  EByteSequence byteSequence = BS_1_0_3_2;
  bool float32 = false;  // layout of eDouble entries
  EDecodePath path = EDecodePath::dpTCP;
};

// The decoding pass over the words of one cycle (host order, first word at
// map.BaseAddress()): rewrites regAddress, the number, the value text and the
// raw text of every entry. Entries that the received words do not cover
// completely get NOT_AVAIL as value and raw text and no number; extra words
// are ignored. FRegData, FRegRawData and the numbers are brought to the size
// of the map first. Does not touch the grid: call map.UpdateGridData(true,
// float32) afterwards.
void DecodeRegisters(TRegisterMap& map, std::span<const std::uint16_t> regValues,
                     const TDecodeOptions& options);

// The number an entry holds, from its wire bytes (the entry's first register's
// high byte first), before any text is made of it: the integer or floating
// value, and for dates and times the packed yyyymmdd or hhmmss. None for a
// time stamp. Reads RegisterWidth(type, float32) registers of wire.
TEntryNumber DecodeNumber(ERegisterType type, const std::uint8_t* wire, EByteSequence byteSequence,
                          bool float32);

// The grid's value text of a number of this type: decimal for integers,
// "0.##" with '.' for floating point, dd/mm/yyyy and hh:mm:ss for dates and
// times; empty for no number.
std::string ValueText(ERegisterType type, const TEntryNumber& number);
