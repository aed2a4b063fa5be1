#include "OutputFormat.h"

#include <algorithm>
#include <clocale>

const char* FormatName(EOutputFormat Format) {
  switch (Format) {
    case EOutputFormat::ofTable:
      return "table";
    case EOutputFormat::ofCsv:
      return "csv";
    case EOutputFormat::ofJson:
      return "json";
    case EOutputFormat::ofJsonl:
      return "jsonl";
  }
  return "?";
}

namespace {

void AppendCsvField(std::string& Out, std::string_view Text) {
  if (Text.find_first_of(",\"\r\n") == std::string_view::npos) {
    Out.append(Text);
    return;
  }
  Out += '"';
  for (char c : Text) {
    if (c == '"') Out += '"';
    Out += c;
  }
  Out += '"';
}

}  // namespace

std::string CsvField(std::string_view Text) {
  std::string field;
  AppendCsvField(field, Text);
  return field;
}

void AppendCsvRecord(std::string& Out, const std::vector<std::string_view>& Fields) {
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    if (i > 0) Out += ',';
    AppendCsvField(Out, Fields[i]);
  }
  Out += "\r\n";
}

std::size_t DisplayWidth(std::string_view Text) {
  // Every byte but a UTF-8 continuation byte starts a code point.
  return static_cast<std::size_t>(
      std::count_if(Text.begin(), Text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void WriteAlignedTable(std::ostream& Out, const std::vector<std::vector<std::string_view>>& Rows,
                       const std::vector<std::size_t>& RightAligned) {
  std::vector<std::vector<std::size_t>> cellWidths;
  std::vector<std::size_t> widths;
  cellWidths.reserve(Rows.size());
  for (const auto& row : Rows) {
    if (widths.size() < row.size()) widths.resize(row.size());
    auto& rowWidths = cellWidths.emplace_back(row.size());
    for (std::size_t c = 0; c < row.size(); ++c) {
      rowWidths[c] = DisplayWidth(row[c]);
      widths[c] = std::max(widths[c], rowWidths[c]);
    }
  }
  std::vector<bool> right(widths.size());
  for (std::size_t c : RightAligned)
    if (c < right.size()) right[c] = true;
  std::string text;
  for (std::size_t r = 0; r < Rows.size(); ++r) {
    const std::size_t start = text.size();
    for (std::size_t c = 0; c < Rows[r].size(); ++c) {
      const std::size_t padding = widths[c] - cellWidths[r][c];
      if (c > 0) text += "  ";
      if (right[c])
        text.append(padding, ' ').append(Rows[r][c]);
      else
        text.append(Rows[r][c]).append(c + 1 < Rows[r].size() ? padding : 0, ' ');
    }
    while (text.size() > start && text.back() == ' ') text.pop_back();
    text += '\n';
  }
  Out << text;
}

std::string UserDecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  if (conv == nullptr || conv->decimal_point == nullptr || *conv->decimal_point == '\0') return ".";
  return conv->decimal_point;
}
