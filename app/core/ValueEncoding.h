#pragma once
// Turning a value typed by the user into the register words a write sends:
// the inverse of the decoding, with the same byte sequences, so that what is
// written reads back as the same value. A value that does not fit its type is
// refused here, before any frame is made.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RegisterTypes.h"

// Why a typed value cannot be written.
enum class EEncodeRefusal : std::uint8_t {
  erNone,
  erNotANumber,   // not a number at all ("abc", "")
  erNotWhole,     // a fraction or an exponent for an integer type
  erOutOfRange,   // a number the type cannot hold
  erNaN,          // NaN or an infinity for an integer, date or time type
  erNotADate,     // not dd/mm/yyyy (or yyyy-mm-dd) of a real calendar day
  erNotATime,     // not hh:mm:ss of a time of day
  erNotWritable,  // a time stamp, which the tool neither decodes nor writes
};

struct TEncodedValue {
  std::vector<std::uint16_t> Words;  // host order, first register first
  EEncodeRefusal Refusal = EEncodeRefusal::erNone;
  bool Ok() const { return Refusal == EEncodeRefusal::erNone; }
};

// The words an entry of `Type` holds for `Text` under `Sequence`: a decimal
// integer for eWord (0..65535) and eInteger (32-bit signed); a decimal number
// for eFloat and eDouble ('.' or ',' before the decimals, an exponent, NAN and
// INF allowed), written as a single for eFloat and for eDouble in the
// 32-bit-float layout; dd/mm/yyyy or yyyy-mm-dd for eDate and eDate3;
// hh:mm:ss for eTime and eTime3. Blanks around the text are ignored.
TEncodedValue EncodeValueText(ERegisterType Type, bool Float32, std::string_view Text,
                              EByteSequence Sequence);

// The words of a packed date (yyyymmdd) or time (hhmmss) for an entry of a
// date or time type: two registers for eDate/eTime, three for eDate3/eTime3;
// empty for any other type.
std::vector<std::uint16_t> EncodeDateTimeNumber(ERegisterType Type, std::int32_t Packed,
                                                EByteSequence Sequence);

// "value 70000 is out of range for INT16": the refusal in English, for the
// command line.
std::string RefusalText(EEncodeRefusal Refusal, std::string_view TypeName, std::string_view Text);

// A write type as the command line names it: the grid's type names INT16,
// INT32, FLOAT32, FLOAT64, TIME24, DATE24 and TS96, DATE32 and TIME32 for the
// packed date and time, or a map code (i, I, f, F, D, T, t, d, u). FLOAT64
// and F are eDouble in the 64-bit layout. Case-sensitive; none when unknown.
std::optional<ERegisterType> WriteTypeFromName(std::string_view Name);

// The name WriteTypeFromName takes for a type ("DATE32" for eDate).
std::string WriteTypeName(ERegisterType Type);
