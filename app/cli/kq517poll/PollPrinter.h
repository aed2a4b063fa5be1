#pragma once
// Writes the cycles of a poll in one output format:
//  table  a header and the rows of each cycle, aligned; a blank line between
//         cycles; numbers with the user's decimal separator;
//  csv    the header line once, then the records of every cycle, CR LF line
//         ends; optionally Timestamp and Ciclo first and a byte-order mark;
//  jsonl  one JSON object per cycle and line;
//  json   one JSON array of those objects for the whole run, closed by Finish.
// Every cycle is flushed, so a reader at the other end of a pipe or a log
// file sees it at once.

#include <ostream>
#include <string>

#include "CycleRecord.h"
#include "OutputFormat.h"

struct TPrinterSettings {
  EOutputFormat Format = EOutputFormat::ofTable;
  bool Timestamps = false;             // csv
  bool Bom = false;                    // csv
  std::string DecimalSeparator = ".";  // table
  bool HeaderWritten = false;          // csv appended to a file that has its header
};

// The CSV header line's fields.
std::vector<std::string_view> CsvHeader(bool Timestamps);

class TPollPrinter {
 public:
  TPollPrinter(std::ostream& Out, TPrinterSettings Settings)
      : FOut(Out), FSettings(std::move(Settings)) {}
  TPollPrinter(const TPollPrinter&) = delete;
  TPollPrinter& operator=(const TPollPrinter&) = delete;

  void PrintCycle(const TCycleRecord& Record);
  // Ends the output (the closing bracket of json); once, after the last cycle.
  void Finish();
  // Whether writing failed (a full disk, a closed pipe).
  bool Failed() const { return FOut.fail(); }

 private:
  void PrintTable(const TCycleRecord& Record);
  void PrintCsv(const TCycleRecord& Record);

  std::ostream& FOut;
  TPrinterSettings FSettings;
  TCycleJsonWriter FJson;
  int FCycles = 0;
};
