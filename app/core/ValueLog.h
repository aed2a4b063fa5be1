#pragma once
// The record of the values: one CSV line per collection cycle with its time
// stamp, its number and one column per map entry holding the decoded value,
// in a CSV dialect chosen when the file is opened (',' and '.' unless told
// otherwise), whatever the C library's locale. A failed cycle still writes
// its line, with empty cells and the error in the last column. Every line is
// flushed to the file at once, so nothing written is lost if the program ends.

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "CsvDialect.h"
#include "CycleOutcome.h"
#include "RegisterMap.h"

class TValueLog {
 public:
  // Creates (or empties) File and writes the header for Map's entries:
  // "Timestamp,Ciclo", one column per entry (its OBIS code and description),
  // "Errore". False, with the reason in Error, when the file cannot be written.
  bool Open(const std::string& File, const TRegisterMap& Map, std::string& Error,
            const TCsvDialect& Dialect = CSV_POINT);
  const TCsvDialect& Dialect() const { return FDialect; }
  void Close();
  bool IsOpen() const { return FFile.is_open(); }
  const std::string& FileName() const { return FFileName; }
  // Cycles written since Open.
  std::uint64_t Cycles() const { return FCycle; }

  // One cycle of Map's entries: the values of Outcome's readings, at its
  // time, or, when it is not Ok, empty cells and Error (the front end's words
  // for why). A map whose entries changed since the last line (another
  // layout or map file) gets its header again first. False, with the reason
  // in Failure, when the line could not be written; the log is closed then.
  bool WriteCycle(const TRegisterMap& Map, const TCycleOutcome& Outcome, const std::string& Error,
                  std::string& Failure);

 private:
  bool WriteHeader(const TRegisterMap& Map);
  bool Flush(std::string& Failure);

  std::ofstream FFile;
  std::string FFileName;
  TCsvDialect FDialect;
  std::vector<std::string> FColumns;  // the entries the header names
  std::uint64_t FCycle = 0;
};
