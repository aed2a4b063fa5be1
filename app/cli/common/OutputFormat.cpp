#include "OutputFormat.h"

#include <algorithm>
#include <clocale>

const char* FormatName(EOutputFormat Format) {
  switch (Format) {
    case EOutputFormat::ofTable: return "table";
    case EOutputFormat::ofCsv: return "csv";
    case EOutputFormat::ofJson: return "json";
    case EOutputFormat::ofJsonl: return "jsonl";
  }
  return "?";
}

std::string CsvField(std::string_view Text) {
  if (Text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(Text);
  std::string quoted = "\"";
  for (char c : Text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvRecord(const std::vector<std::string_view>& Fields) {
  std::string record;
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    if (i > 0) record += ',';
    record += CsvField(Fields[i]);
  }
  return record + "\r\n";
}

std::size_t DisplayWidth(std::string_view Text) {
  // Every byte but a UTF-8 continuation byte starts a code point.
  return static_cast<std::size_t>(
      std::count_if(Text.begin(), Text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void WriteAlignedTable(std::ostream& Out, const std::vector<std::vector<std::string>>& Rows,
                       const std::vector<std::size_t>& RightAligned) {
  std::vector<std::size_t> widths;
  for (const auto& row : Rows) {
    if (widths.size() < row.size()) widths.resize(row.size());
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  const auto right = [&](std::size_t c) {
    return std::find(RightAligned.begin(), RightAligned.end(), c) != RightAligned.end();
  };
  for (const auto& row : Rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string padding(widths[c] - DisplayWidth(row[c]), ' ');
      if (c > 0) line += "  ";
      if (right(c)) line.append(padding).append(row[c]);
      else line.append(row[c]).append(c + 1 < row.size() ? padding : "");
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    Out << line << '\n';
  }
}

std::string UserDecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  if (conv == nullptr || conv->decimal_point == nullptr || *conv->decimal_point == '\0') return ".";
  return conv->decimal_point;
}

std::string WithDecimalSeparator(std::string Number, std::string_view Separator) {
  const auto point = Number.find('.');
  if (point != std::string::npos) Number.replace(point, 1, Separator);
  return Number;
}
