#include "ValueEncoding.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "RegisterEncoding.h"

namespace {

std::string_view Trimmed(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

// A decimal number in the classic notation, ',' taken as '.' (the window's
// users type the Italian separator). Infinities and NaN come back as such.
std::optional<double> ParseReal(std::string_view Text) {
  std::string text(Text);
  for (char& c : text)
    if (c == ',') c = '.';
  if (!text.empty() && text.front() == '+') text.erase(0, 1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size()) return std::nullopt;
  // A finite text beyond the double range: as large as it gets, then refused.
  if (ec == std::errc::result_out_of_range)
    return text.front() == '-' ? -std::numeric_limits<double>::infinity()
                               : std::numeric_limits<double>::infinity();
  if (ec != std::errc{}) return std::nullopt;
  return value;
}

bool IsFiniteText(std::string_view Text) {
  for (char c : Text)
    if (c == 'n' || c == 'N' || c == 'i' || c == 'I') return false;
  return true;
}

// An integer type's value: a whole number from Min to Max.
TEncodedValue IntegerValue(std::string_view Text, long long Min, long long Max, long long& Out) {
  TEncodedValue refused;
  std::string text(Text);
  if (!text.empty() && text.front() == '+') text.erase(0, 1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), Out);
  if (!text.empty() && ec == std::errc{} && end == text.data() + text.size()) {
    if (Out < Min || Out > Max) refused.Refusal = EEncodeRefusal::erOutOfRange;
    return refused;
  }
  const std::optional<double> real = ParseReal(Text);
  if (!real) {
    refused.Refusal = EEncodeRefusal::erNotANumber;
  } else if (std::isnan(*real) || (std::isinf(*real) && !IsFiniteText(Text))) {
    refused.Refusal = EEncodeRefusal::erNaN;
  } else if (*real < static_cast<double>(Min) || *real > static_cast<double>(Max)) {
    refused.Refusal = EEncodeRefusal::erOutOfRange;
  } else if (*real == std::floor(*real)) {
    Out = static_cast<long long>(*real);  // 1e3 or 1000.0: a whole number all the same
  } else {
    refused.Refusal = EEncodeRefusal::erNotWhole;
  }
  return refused;
}

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static constexpr int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : DAYS[m - 1];
}

// Three numbers a, b, c separated by Separator, the whole text.
bool ThreeFields(std::string_view Text, char Separator, int& A, int& B, int& C) {
  int* fields[] = {&A, &B, &C};
  const char* at = Text.data();
  const char* end = Text.data() + Text.size();
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (at == end || *at != Separator) return false;
      ++at;
    }
    const auto [next, ec] = std::from_chars(at, end, *fields[i]);
    if (ec != std::errc{} || next == at || *at == '-') return false;
    at = next;
  }
  return at == end;
}

// yyyymmdd of "dd/mm/yyyy" or "yyyy-mm-dd".
std::optional<std::int32_t> PackedDate(std::string_view Text) {
  int day = 0, month = 0, year = 0;
  if (!ThreeFields(Text, '/', day, month, year) && !ThreeFields(Text, '-', year, month, day))
    return std::nullopt;
  if (year < 0 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return std::nullopt;
  return year * 10000 + month * 100 + day;
}

// hhmmss of "hh:mm:ss".
std::optional<std::int32_t> PackedTime(std::string_view Text) {
  int hour = 0, minute = 0, second = 0;
  if (!ThreeFields(Text, ':', hour, minute, second)) return std::nullopt;
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return hour * 10000 + minute * 100 + second;
}

TEncodedValue Words(std::vector<std::uint16_t> Words) {
  TEncodedValue encoded;
  encoded.Words = std::move(Words);
  return encoded;
}

TEncodedValue Refused(EEncodeRefusal Refusal) {
  TEncodedValue encoded;
  encoded.Refusal = Refusal;
  return encoded;
}

TEncodedValue RealValue(std::string_view Text, bool Single, EByteSequence Sequence) {
  const std::optional<double> real = ParseReal(Text);
  if (!real) return Refused(EEncodeRefusal::erNotANumber);
  // A finite number the type cannot hold is refused rather than written as
  // an infinity; an infinity typed as such is what the user asked for.
  const bool finiteText = IsFiniteText(Text);
  if (Single) {
    if (finiteText && (std::isinf(*real) || std::fabs(*real) > std::numeric_limits<float>::max()))
      return Refused(EEncodeRefusal::erOutOfRange);
    return Words(EncodeFloat(Sequence, static_cast<float>(*real)));
  }
  if (finiteText && std::isinf(*real)) return Refused(EEncodeRefusal::erOutOfRange);
  return Words(EncodeDouble(Sequence, *real));
}

}  // namespace

std::vector<std::uint16_t> EncodeDateTimeNumber(ERegisterType Type, std::int32_t Packed,
                                                EByteSequence Sequence) {
  switch (Type) {
    case eDate:
    case eTime:
      return EncodeInt32(Sequence, Packed);
    case eDate3:
    case eTime3: {
      const std::uint16_t fields[] = {static_cast<std::uint16_t>(Packed / 10000),
                                      static_cast<std::uint16_t>(Packed / 100 % 100),
                                      static_cast<std::uint16_t>(Packed % 100)};
      return EncodeWordFields(Sequence, fields);
    }
    default:
      return {};
  }
}

TEncodedValue EncodeValueText(ERegisterType Type, bool Float32, std::string_view Text,
                              EByteSequence Sequence) {
  const std::string_view text = Trimmed(Text);
  long long whole = 0;
  switch (Type) {
    case eWord: {
      TEncodedValue value = IntegerValue(text, 0, 65535, whole);
      if (!value.Ok()) return value;
      return Words(EncodeWord(Sequence, static_cast<std::uint16_t>(whole)));
    }
    case eInteger: {
      TEncodedValue value = IntegerValue(text, std::numeric_limits<std::int32_t>::min(),
                                         std::numeric_limits<std::int32_t>::max(), whole);
      if (!value.Ok()) return value;
      return Words(EncodeInt32(Sequence, static_cast<std::int32_t>(whole)));
    }
    case eFloat:
      return RealValue(text, true, Sequence);
    case eDouble:
      return RealValue(text, Float32, Sequence);
    case eDate:
    case eDate3: {
      const auto packed = PackedDate(text);
      if (!packed) return Refused(EEncodeRefusal::erNotADate);
      return Words(EncodeDateTimeNumber(Type, *packed, Sequence));
    }
    case eTime:
    case eTime3: {
      const auto packed = PackedTime(text);
      if (!packed) return Refused(EEncodeRefusal::erNotATime);
      return Words(EncodeDateTimeNumber(Type, *packed, Sequence));
    }
    case eTimeStamp12:
      break;
  }
  return Refused(EEncodeRefusal::erNotWritable);
}

std::string RefusalText(EEncodeRefusal Refusal, std::string_view TypeName, std::string_view Text) {
  const std::string value = "'" + std::string(Text) + "'";
  const std::string type(TypeName);
  switch (Refusal) {
    case EEncodeRefusal::erNone:
      return {};
    case EEncodeRefusal::erNotANumber:
      return "value " + value + " is not a number";
    case EEncodeRefusal::erNotWhole:
      return "value " + value + " is not a whole number, as " + type + " needs";
    case EEncodeRefusal::erOutOfRange:
      return "value " + value + " is out of range for " + type;
    case EEncodeRefusal::erNaN:
      return "value " + value + " is no number " + type + " can hold";
    case EEncodeRefusal::erNotADate:
      return "value " + value + " is not a date dd/mm/yyyy or yyyy-mm-dd";
    case EEncodeRefusal::erNotATime:
      return "value " + value + " is not a time hh:mm:ss";
    case EEncodeRefusal::erNotWritable:
      return type + " entries cannot be written";
  }
  return {};
}

namespace {

struct TWriteTypeName {
  const char* Name;
  ERegisterType Type;
};

constexpr TWriteTypeName WRITE_TYPE_NAMES[] = {
    {"INT16", eWord},     {"INT32", eInteger}, {"FLOAT32", eFloat},
    {"FLOAT64", eDouble}, {"DATE32", eDate},   {"TIME32", eTime},
    {"TIME24", eTime3},   {"DATE24", eDate3},  {"TS96", eTimeStamp12}};

}  // namespace

std::optional<ERegisterType> WriteTypeFromName(std::string_view Name) {
  for (const auto& [name, type] : WRITE_TYPE_NAMES)
    if (Name == name) return type;
  return RegisterTypeFromMapCode(Name);
}

std::string WriteTypeName(ERegisterType Type) {
  for (const auto& [name, type] : WRITE_TYPE_NAMES)
    if (Type == type) return name;
  return "???";
}
