#include "ValueDecoding.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "MeterPresence.h"

namespace {

// SOURCE_INDEX[sequence][i] = which wire byte becomes value byte i, for values
// of 2, 4 and 8 bytes.
constexpr std::array<std::array<std::uint8_t, 2>, 4> SOURCE_INDEX_2 = {
    {{1, 0}, {0, 1}, {0, 1}, {1, 0}}};
constexpr std::array<std::array<std::uint8_t, 4>, 4> SOURCE_INDEX_4 = {
    {{1, 0, 3, 2}, {0, 1, 2, 3}, {2, 3, 0, 1}, {3, 2, 1, 0}}};
constexpr std::array<std::array<std::uint8_t, 8>, 4> SOURCE_INDEX_8 = {{{1, 0, 3, 2, 5, 4, 7, 6},
                                                                        {0, 1, 2, 3, 4, 5, 6, 7},
                                                                        {6, 7, 4, 5, 2, 3, 0, 1},
                                                                        {7, 6, 5, 4, 3, 2, 1, 0}}};

template <std::size_t N>
void Gather(const std::array<std::uint8_t, N>& index, std::uint8_t* dest, const std::uint8_t* src) {
  for (std::size_t i = 0; i < N; ++i) dest[i] = src[index[i]];
}

// Value bytes are least significant first; assemble them without relying on
// the host's byte order.
template <typename TUnsigned>
TUnsigned FromLittleEndian(const std::uint8_t* d) {
  TUnsigned v = 0;
  for (std::size_t i = sizeof(TUnsigned); i-- > 0;) {
    v = static_cast<TUnsigned>((v << 8) | d[i]);
  }
  return v;
}

template <typename TUnsigned>
TUnsigned Take(EByteSequence seq, const std::uint8_t* wire) {
  std::uint8_t d[sizeof(TUnsigned)] = {};
  SmartSwap(seq, d, wire, static_cast<std::int32_t>(sizeof(TUnsigned)));
  return FromLittleEndian<TUnsigned>(d);
}

// v = first × 10000 + second × 100 + third, from three single-register words.
std::int32_t TakeThreeWords(EByteSequence seq, const std::uint8_t* wire) {
  const std::int32_t w0 = Take<std::uint16_t>(seq, wire);
  const std::int32_t w1 = Take<std::uint16_t>(seq, wire + 2);
  const std::int32_t w2 = Take<std::uint16_t>(seq, wire + 4);
  return w0 * 10000 + w1 * 100 + w2;  // at most 661,969,035: fits
}

// Adds one to the decimal digits in place; a carry out of the first digit
// prepends a "1".
void IncrementDecimal(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

}  // namespace

void SmartSwap(EByteSequence pByteSequence, std::uint8_t* pRegisters, const std::uint8_t* pValues,
               std::int32_t pSize) {
  const auto seq = static_cast<std::size_t>(pByteSequence);
  if (seq >= SOURCE_INDEX_4.size()) return;
  switch (pSize) {
    case 2:
      Gather(SOURCE_INDEX_2[seq], pRegisters, pValues);
      break;
    case 4:
      Gather(SOURCE_INDEX_4[seq], pRegisters, pValues);
      break;
    case 8:
      Gather(SOURCE_INDEX_8[seq], pRegisters, pValues);
      break;
    default:
      break;
  }
}

std::string DumpHex(const std::uint8_t* pData, std::int32_t pSize) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string text;
  if (pSize <= 0) return text;
  text.reserve(static_cast<std::size_t>(pSize) * 2);
  for (std::int32_t i = pSize; i-- > 0;) {
    text += HEX[pData[i] >> 4];
    text += HEX[pData[i] & 0x0F];
  }
  return text;
}

std::string DataTypeName(ERegisterType pDataType, bool float32) {
  switch (pDataType) {
    case eWord:
      return "INT16";
    case eInteger:
    case eDate:
    case eTime:
      return "INT32";
    case eFloat:
      return "FLOAT32";
    case eDouble:
      return float32 ? "FLOAT32" : "FLOAT64";
    case eTime3:
      return "TIME24";
    case eDate3:
      return "DATE24";
    case eTimeStamp12:
      return "TS96";
  }
  return "???";
}

std::string FormatFloat2(double value, std::string_view decimalSeparator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";

  // Round on the 15 significant decimal digits a double reliably carries, so
  // that 1.005 shows as 1.01 the way a reader expects, not as 1 (its binary
  // value is a hair below 1.005). std::to_chars writes "d.dddde+XX" whatever
  // the C library's locale, which printf would not (a ',' there broke the
  // digit string apart under an Italian locale).
  char buf[40];
  const std::to_chars_result written =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
  const std::string_view scientific(buf, static_cast<std::size_t>(written.ptr - buf));
  const std::size_t e = scientific.find('e');
  std::string digits;
  for (const char c : scientific.substr(0, e)) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  const std::string_view exponentText = scientific.substr(e + 1);
  std::from_chars(exponentText.data() + (exponentText.front() == '+' ? 1 : 0),
                  exponentText.data() + exponentText.size(), exponent);

  // Lay the digits out as integer part and fraction.
  int intDigits = exponent + 1;
  if (intDigits < 1) {
    digits.insert(0, static_cast<std::size_t>(1 - intDigits), '0');
    intDigits = 1;
  }
  if (static_cast<int>(digits.size()) < intDigits + 3) {
    digits.append(static_cast<std::size_t>(intDigits + 3) - digits.size(), '0');
  }
  const bool roundUp = digits[static_cast<std::size_t>(intDigits) + 2] >= '5';
  digits.resize(static_cast<std::size_t>(intDigits) + 2);
  if (roundUp) {
    const std::size_t before = digits.size();
    IncrementDecimal(digits);
    intDigits += static_cast<int>(digits.size() - before);
  }

  std::string intPart = digits.substr(0, static_cast<std::size_t>(intDigits));
  std::string fraction = digits.substr(static_cast<std::size_t>(intDigits));
  intPart.erase(0, std::min(intPart.find_first_not_of('0'), intPart.size() - 1));
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();

  std::string text;
  if (value < 0 && !(intPart == "0" && fraction.empty())) text += '-';
  text += intPart;
  if (!fraction.empty()) {
    text += decimalSeparator;
    text += fraction;
  }
  return text;
}

std::string WithDecimalSeparator(std::string Text, std::string_view Separator) {
  if (Separator == ".") return Text;
  if (const auto point = Text.find('.'); point != std::string::npos)
    Text.replace(point, 1, Separator);
  return Text;
}

std::string DateText(std::int32_t v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.2d/%.2d/%.4d", v % 100, (v / 100) % 100, v / 10000);
  return buf;
}

std::string TimeText(std::int32_t v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d", v / 10000, (v / 100) % 100, v % 100);
  return buf;
}

std::optional<std::string> IsoDateText(std::int32_t v) {
  const int year = v / 10000, month = v / 100 % 100, day = v % 100;
  constexpr int DAYS[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (v < 0 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > (month == 2 && !leap ? 28 : DAYS[month - 1]))
    return std::nullopt;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  return buf;
}

std::optional<std::string> IsoTimeOfDayText(std::int32_t v) {
  if (v < 0 || v / 10000 > 23 || v / 100 % 100 > 59 || v % 100 > 59) return std::nullopt;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", v / 10000, v / 100 % 100, v % 100);
  return buf;
}

void DecodeRegisters(TRegisterMap& map, std::span<const std::uint16_t> regValues,
                     const TDecodeOptions& options) {
  std::vector<TConfigRecord>& regs = map.MutableRegs();
  std::vector<std::string>& values = map.MutableRegData();
  std::vector<std::string>& raws = map.MutableRegRawData();
  std::vector<TEntryNumber>& numbers = map.MutableRegNumbers();
  if (values.size() != regs.size()) values.resize(regs.size());
  if (raws.size() != regs.size()) raws.resize(regs.size());
  if (numbers.size() != regs.size()) numbers.resize(regs.size());

  // The wire byte string: every register high byte first.
  std::vector<std::uint8_t> wire(regValues.size() * 2);
  for (std::size_t k = 0; k < regValues.size(); ++k) {
    wire[2 * k] = static_cast<std::uint8_t>(regValues[k] >> 8);
    wire[2 * k + 1] = static_cast<std::uint8_t>(regValues[k] & 0xFF);
  }

  const std::int64_t base = map.BaseAddress();
  const std::size_t received = regValues.size();
  bool dataAvail = options.path == EDecodePath::dpTCP;
  std::size_t j = 0;  // register index of the current entry
  for (std::size_t i = 0; i < regs.size(); ++i) {
    TConfigRecord& entry = regs[i];
    const auto width = static_cast<std::size_t>(RegisterWidth(entry.regType, options.float32));
    entry.regAddress = std::to_string(base + static_cast<std::int64_t>(j));

    if (j + width > received) {
      // Not (completely) in the reply: nothing to show, nothing read.
      values[i] = NOT_AVAIL;
      raws[i] = NOT_AVAIL;
      numbers[i] = {};
    } else {
      const std::uint8_t* bytes = wire.data() + 2 * j;
      if (options.path == EDecodePath::dpSerial && i == 0) {
        // The first word tells whether the meter instance answers at all.
        dataAvail = entry.regType == eWord &&
                    Take<std::uint16_t>(options.byteSequence, bytes) != ABSENT_METER_WORD;
      }
      numbers[i] = dataAvail
                       ? DecodeNumber(entry.regType, bytes, options.byteSequence, options.float32)
                       : TEntryNumber{};
      values[i] = dataAvail ? ValueText(entry.regType, numbers[i]) : std::string(NOT_AVAIL);
      raws[i] = entry.regType == eTimeStamp12
                    ? std::string{}
                    : DumpHex(bytes, static_cast<std::int32_t>(width * 2));
    }
    j += width;
  }
}

TEntryNumber DecodeNumber(ERegisterType type, const std::uint8_t* wire, EByteSequence byteSequence,
                          bool float32) {
  switch (type) {
    case eWord:
      return std::int64_t{Take<std::uint16_t>(byteSequence, wire)};
    case eInteger:
    case eDate:
    case eTime:
      return std::int64_t{static_cast<std::int32_t>(Take<std::uint32_t>(byteSequence, wire))};
    case eFloat:
      return std::bit_cast<float>(Take<std::uint32_t>(byteSequence, wire));
    case eDouble:
      if (float32) return std::bit_cast<float>(Take<std::uint32_t>(byteSequence, wire));
      return std::bit_cast<double>(Take<std::uint64_t>(byteSequence, wire));
    case eTime3:
    case eDate3:
      return std::int64_t{TakeThreeWords(byteSequence, wire)};
    case eTimeStamp12:
      break;
  }
  return {};
}

std::string ValueText(ERegisterType type, const TEntryNumber& number) {
  if (const auto* whole = std::get_if<std::int64_t>(&number)) {
    const auto packed = static_cast<std::int32_t>(*whole);
    switch (type) {
      case eDate:
      case eDate3:
        return DateText(packed);
      case eTime:
      case eTime3:
        return TimeText(packed);
      default:
        return std::to_string(*whole);
    }
  }
  if (const auto* single = std::get_if<float>(&number)) return FormatFloat2(*single, ".");
  if (const auto* real = std::get_if<double>(&number)) return FormatFloat2(*real, ".");
  return {};
}
