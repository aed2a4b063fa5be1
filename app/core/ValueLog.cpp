#include "ValueLog.h"

#include <cerrno>
#include <cstring>

#include "TrafficEntry.h"

namespace {

// An RFC 4180 field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& Text) {
  if (Text.find_first_of(",\"\r\n") == std::string::npos) return Text;
  std::string quoted = "\"";
  for (const char c : Text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

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

bool TValueLog::Open(const std::string& File, const TRegisterMap& Map, std::string& Error) {
  Close();
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
  std::string line = "Timestamp,Ciclo";
  for (const std::string& column : FColumns) line += ',' + CsvField(column);
  line += ",Errore\r\n";
  FFile << line;
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
  std::string line = IsoTimeText(Outcome.Time) + ',' + std::to_string(++FCycle);
  const auto& entries = Outcome.Entries;
  for (std::size_t i = 0; i < Map.Regs().size(); ++i) {
    line += ',';
    // Numbers are "0.##" texts with '.' already.
    if (Outcome.Ok && i < entries.size() && entries[i].Text != NOT_AVAIL)
      line += CsvField(entries[i].Text);
  }
  line += ',' + (Outcome.Ok ? std::string() : CsvField(Error)) + "\r\n";
  FFile << line;
  return Flush(Failure);
}
