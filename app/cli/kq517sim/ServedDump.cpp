#include "ServedDump.h"

#include "ValueDecoding.h"

namespace {

// RFC 4180: quote a field that holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char ch : text) {
    if (ch == '"') quoted += '"';
    quoted += ch;
  }
  return quoted + "\"";
}

}  // namespace

void WriteServedCsv(std::ostream& out, const std::vector<TServedEntry>& entries, bool float32) {
  out << "address,type,obis,value,raw\n";
  for (const auto& e : entries) {
    out << e.address << ',' << CsvField(DataTypeName(e.type, float32)) << ',' << CsvField(e.obis)
        << ',' << CsvField(e.value) << ',' << ShownRawText(e) << '\n';
  }
}
