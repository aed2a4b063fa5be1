#include "GridText.h"

#include <algorithm>

#include "ValueDecoding.h"

std::string GridClipboardText(const TRegisterGrid& Grid, const std::vector<std::size_t>& Rows,
                              std::string_view DecimalSeparator) {
  const auto line = [](const auto& Cells) {
    std::string text;
    for (int column = 0; column < GRID_COLUMN_COUNT; ++column) {
      std::string cell = Cells(column);
      // A tab in a cell would move the cells after it.
      std::replace(cell.begin(), cell.end(), '\t', ' ');
      text += (column > 0 ? "\t" : "") + cell;
    }
    return text + '\n';
  };
  std::string text = line([](int column) { return std::string(GRID_HEADERS[column]); });
  for (const std::size_t row : Rows) {
    if (row >= Grid.RowCount()) continue;
    text += line([&](int column) {
      const std::string& cell = Grid.Cell(row, column);
      return column == gcValue ? WithDecimalSeparator(cell, DecimalSeparator) : cell;
    });
  }
  return text;
}

std::string GridCsvText(const TRegisterGrid& Grid, const TCsvDialect& Dialect) {
  std::vector<std::string> fields;
  for (const char* header : GRID_HEADERS) fields.push_back(CsvField(header, Dialect));
  std::string text = CsvLine(fields, Dialect);
  for (const TGridRow& row : Grid.Rows()) {
    fields.clear();
    for (int column = 0; column < GRID_COLUMN_COUNT; ++column) {
      const std::string& cell = row[static_cast<std::size_t>(column)];
      fields.push_back(column == gcValue ? CsvNumber(cell, Dialect) : CsvField(cell, Dialect));
    }
    text += CsvLine(fields, Dialect);
  }
  return text;
}
