#include "PollPrinter.h"

#include "TrafficEntry.h"
#include "ValueDecoding.h"

std::vector<std::string_view> CsvHeader(bool Timestamps) {
  std::vector<std::string_view> fields;
  if (Timestamps) fields = {"Timestamp", "Ciclo"};
  for (const char* header : GRID_HEADERS) fields.emplace_back(header);
  return fields;
}

void TPollPrinter::PrintCycle(const TCycleRecord& Record) {
  switch (FSettings.Format) {
    case EOutputFormat::ofTable:
      PrintTable(Record);
      break;
    case EOutputFormat::ofCsv:
      PrintCsv(Record);
      break;
    case EOutputFormat::ofJsonl:
      FOut << FJson.Line(Record) << '\n';
      break;
    case EOutputFormat::ofJson:
      FOut << (FCycles == 0 ? "[\n" : ",\n") << FJson.Line(Record);
      break;
  }
  ++FCycles;
  FOut.flush();
}

void TPollPrinter::Finish() {
  if (FSettings.Format == EOutputFormat::ofJson) FOut << (FCycles == 0 ? "[]\n" : "\n]\n");
  FOut.flush();
}

void TPollPrinter::PrintTable(const TCycleRecord& Record) {
  std::vector<std::string> localised;  // numbers with the user's separator
  localised.reserve(Record.Rows.size());
  std::vector<std::vector<std::string_view>> lines;
  lines.reserve(Record.Rows.size() + 1);
  lines.emplace_back(std::begin(GRID_HEADERS), std::end(GRID_HEADERS));
  for (std::size_t i = 0; i < Record.Rows.size(); ++i) {
    auto& cells = lines.emplace_back();
    cells.reserve(Record.Rows[i].size());
    for (const std::string& cell : Record.Rows[i]) cells.emplace_back(cell.data(), cell.size());
    if (i < Record.Types.size() && HasNumericValue(Record.Types[i]))
      cells[gcValue] = localised.emplace_back(
          WithDecimalSeparator(Record.Rows[i][gcValue], FSettings.DecimalSeparator));
  }
  if (FCycles > 0) FOut << '\n';
  // The address column reads best right-aligned.
  WriteAlignedTable(FOut, lines, {gcAddress});
}

void TPollPrinter::PrintCsv(const TCycleRecord& Record) {
  std::string text;
  if (!FSettings.HeaderWritten) {
    if (FSettings.Bom) text += UTF8_BOM;
    AppendCsvRecord(text, CsvHeader(FSettings.Timestamps));
    FSettings.HeaderWritten = true;
  }
  const std::string time = FSettings.Timestamps ? IsoTimeText(Record.Time) : std::string();
  const std::string cycle = std::to_string(Record.Cycle);
  std::vector<std::string_view> fields;
  for (const TGridRow& row : Record.Rows) {
    fields.clear();
    if (FSettings.Timestamps) fields = {time, cycle};
    fields.insert(fields.end(), row.begin(), row.end());
    AppendCsvRecord(text, fields);
  }
  FOut << text;
}
