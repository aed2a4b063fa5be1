#include "ValueLog.h"

#include <cerrno>
#include <cstring>

#include "TrafficEntry.h"
#include "ValueDecoding.h"

namespace {

std::vector<std::string> ColumnsOf(const TRegisterMap& Map) {
  std::vector<std::string> columns;
  for (const TConfigRecord& entry : Map.Regs())
    columns.push_back(entry.obis.empty() ? entry.desc : entry.obis + " " + entry.desc);
  return columns;
}

std::string Reason() {
  return errno != 0 ? std::strerror(errno) : "write error";
}

}  // namespace

bool TValueLog::Open(const std::string& File, const TRegisterMap& Map, std::string& Error,
                     const TCsvDialect& Dialect) {
  Close();
  FDialect = Dialect;
  errno = 0;
  FFile.open(File, std::ios::binary | std::ios::trunc);
  if (!FFile) {
    Error = "cannot write '" + File + "': " + Reason();
    FFile = std::ofstream();
    return false;
  }
  FFileName = File;
  FCycle = 0;
  if (!WriteHeader(Map) || !Flush(Error)) {
    Error = "cannot write '" + File + "': " + Error;
    return false;
  }
  return true;
}

void TValueLog::Close() {
  if (FFile.is_open()) FFile.close();
  FFile = std::ofstream();
  FColumns.clear();
}

bool TValueLog::WriteHeader(const TRegisterMap& Map) {
  FColumns = ColumnsOf(Map);
  std::vector<std::string> fields = {"Timestamp", "Ciclo"};
  for (const std::string& column : FColumns) fields.push_back(CsvField(column, FDialect));
  fields.emplace_back("Errore");
  FFile << CsvLine(fields, FDialect);
  return static_cast<bool>(FFile);
}

bool TValueLog::Flush(std::string& Failure) {
  errno = 0;
  FFile.flush();
  if (FFile) return true;
  Failure = Reason();
  Close();
  return false;
}

bool TValueLog::WriteCycle(const TRegisterMap& Map, const TCycleOutcome& Outcome,
                           const std::string& Error, std::string& Failure) {
  if (!IsOpen()) {
    Failure = "the value log is not open";
    return false;
  }
  if (ColumnsOf(Map) != FColumns && !WriteHeader(Map)) return Flush(Failure);
  std::vector<std::string> fields = {IsoTimeText(Outcome.Time), std::to_string(++FCycle)};
  const auto& entries = Outcome.Entries;
  for (std::size_t i = 0; i < Map.Regs().size(); ++i) {
    // Numbers are "0.##" texts with '.', in the dialect's separator here.
    const bool read = Outcome.Ok && i < entries.size() && entries[i].Text != NOT_AVAIL;
    fields.push_back(read ? CsvNumber(entries[i].Text, FDialect) : std::string());
  }
  fields.push_back(Outcome.Ok ? std::string() : CsvField(Error, FDialect));
  FFile << CsvLine(fields, FDialect);
  return Flush(Failure);
}
