#include "CsvDialect.h"

#include "ValueDecoding.h"

TCsvDialect CsvDialectFor(std::string_view LocaleDecimalSeparator) {
  return LocaleDecimalSeparator == "," ? CSV_COMMA : CSV_POINT;
}

std::string CsvField(const std::string& Text, const TCsvDialect& Dialect) {
  const char special[] = {Dialect.FieldSeparator, '"', '\r', '\n', '\0'};
  if (Text.find_first_of(special) == std::string::npos) return Text;
  std::string quoted = "\"";
  for (const char c : Text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvNumber(const std::string& Text, const TCsvDialect& Dialect) {
  return CsvField(WithDecimalSeparator(Text, std::string(1, Dialect.DecimalSeparator)), Dialect);
}

std::string CsvLine(const std::vector<std::string>& Fields, const TCsvDialect& Dialect) {
  std::string line;
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    if (i > 0) line += Dialect.FieldSeparator;
    line += Fields[i];
  }
  return line + "\r\n";
}
