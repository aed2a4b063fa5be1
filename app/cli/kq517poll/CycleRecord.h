#pragma once
// What one poll cycle produced, as every output takes it: when it ran, how it
// ended, and the grid's rows with the data type and the number of each entry.

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "EntryValues.h"
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
  std::vector<TEntryNumber> Numbers;           // what each row's value text was made from
};

// The value of a row for a machine, as JSON text: null where the grid shows
// "<N/A>"; for a numeric type the shortest number that reads back as the
// decoded one (null when it is not finite); for a date or a time its ISO 8601
// text ("2026-12-09", "15:25:43"; null when it is no date or time of day);
// the text for a time stamp.
std::string RowValueJson(const std::string& Text, ERegisterType Type, const TEntryNumber& Number);

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
