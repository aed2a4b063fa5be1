#pragma once
// What one poll cycle produced, as every output takes it: when it ran, how it
// ended, and the grid's rows with the data type of each entry.

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "RegisterGrid.h"
#include "RegisterTypes.h"

struct TCycleRecord {
  std::chrono::system_clock::time_point Time;  // when the cycle started
  std::chrono::duration<double> Duration{};    // how long it took
  int Cycle = 0;                               // 1, 2, ...
  bool Ok = false;                             // the whole map read and decoded
  std::string Error;                           // why not; empty when Ok
  int Meter = 1;                               // meter instance 1..5
  std::vector<TGridRow> Rows;                  // the grid's texts, value with '.'
  std::vector<ERegisterType> Types;            // the data type of each row
};

// Local time as ISO 8601 with milliseconds and the UTC offset of the local
// time zone: 2026-12-08T10:20:30.123+01:00.
std::string Iso8601LocalTime(std::chrono::system_clock::time_point Time);

// Whether entries of this type show a number (rather than a date, a time or
// an undecoded time stamp).
bool IsNumericType(ERegisterType Type);

// The value of a row for a machine: a JSON number for a numeric type (null
// when its text is not a finite number, "<N/A>" included), the text for the
// other types, null for "<N/A>".
nlohmann::ordered_json RowValue(const std::string& Text, ERegisterType Type);

// Writes cycles as JSON objects, one line each: time, cycle, ok, error, meter
// and rows (address, type, obis, value, text, raw, description). What a row
// keeps from cycle to cycle (its address, type, OBIS code and description) is
// serialised once; a cycle serialises only its values, so that writing a
// cycle stays cheap beside polling it. Bytes that are not valid UTF-8 (a map
// file in another code page) are written as U+FFFD.
class TCycleJsonWriter {
 public:
  std::string Line(const TCycleRecord& Record);

 private:
  struct TRowText {
    TGridRow Cells;    // the cycle's row the texts were made from
    std::string Head;  // {"address":..,"type":..,"obis":..,"value":
    std::string Tail;  // ,"description":..}
  };
  const TRowText& RowText(std::size_t Index, const TGridRow& Row);

  std::vector<TRowText> FRows;
};
