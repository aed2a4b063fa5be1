#include "PollPrinter.h"

namespace {

std::string JsonLine(const TCycleRecord& Record) {
  // Texts that are not valid UTF-8 (a map file in another code page) carry
  // U+FFFD in place of the bad bytes instead of making the output invalid.
  return CycleJson(Record).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::vector<std::string_view> CsvHeader(bool Timestamps) {
  std::vector<std::string_view> fields;
  if (Timestamps) fields = {"Timestamp", "Ciclo"};
  for (const char* header : GRID_HEADERS) fields.emplace_back(header);
  return fields;
}

void TPollPrinter::PrintCycle(const TCycleRecord& Record) {
  switch (FSettings.Format) {
    case EOutputFormat::ofTable: PrintTable(Record); break;
    case EOutputFormat::ofCsv: PrintCsv(Record); break;
    case EOutputFormat::ofJsonl: FOut << JsonLine(Record) << '\n'; break;
    case EOutputFormat::ofJson: FOut << (FCycles == 0 ? "[\n" : ",\n") << JsonLine(Record); break;
  }
  ++FCycles;
  FOut.flush();
}

void TPollPrinter::Finish() {
  if (FSettings.Format == EOutputFormat::ofJson) FOut << (FCycles == 0 ? "[]\n" : "\n]\n");
  FOut.flush();
}

void TPollPrinter::PrintTable(const TCycleRecord& Record) {
  std::vector<std::vector<std::string>> lines;
  lines.emplace_back(std::begin(GRID_HEADERS), std::end(GRID_HEADERS));
  for (std::size_t i = 0; i < Record.Rows.size(); ++i) {
    std::vector<std::string> cells(Record.Rows[i].begin(), Record.Rows[i].end());
    if (i < Record.Types.size() && IsNumericType(Record.Types[i]))
      cells[gcValue] = WithDecimalSeparator(cells[gcValue], FSettings.DecimalSeparator);
    lines.push_back(std::move(cells));
  }
  if (FCycles > 0) FOut << '\n';
  // The address column reads best right-aligned.
  WriteAlignedTable(FOut, lines, {gcAddress});
}

void TPollPrinter::PrintCsv(const TCycleRecord& Record) {
  if (!FSettings.HeaderWritten) {
    if (FSettings.Bom) FOut << UTF8_BOM;
    FOut << CsvRecord(CsvHeader(FSettings.Timestamps));
    FSettings.HeaderWritten = true;
  }
  const std::string time = FSettings.Timestamps ? Iso8601LocalTime(Record.Time) : std::string();
  const std::string cycle = std::to_string(Record.Cycle);
  for (const TGridRow& row : Record.Rows) {
    std::vector<std::string_view> fields;
    if (FSettings.Timestamps) fields = {time, cycle};
    fields.insert(fields.end(), row.begin(), row.end());
    FOut << CsvRecord(fields);
  }
}
