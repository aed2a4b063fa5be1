#pragma once
// How a CSV file of the window separates its fields and writes its numbers.
// A spreadsheet set to a locale whose decimal separator is a comma (Italian,
// German, ...) opens as columns only a file with ';' between the fields and
// ',' in the numbers; everywhere else the file has ',' and '.'. File >
// "Registra…" and File > "Esporta griglia…" write through the one line
// writer here.

#include <string>
#include <string_view>
#include <vector>

struct TCsvDialect {
  char FieldSeparator = ',';
  char DecimalSeparator = '.';
  bool operator==(const TCsvDialect&) const = default;
};

inline constexpr TCsvDialect CSV_POINT{',', '.'};
inline constexpr TCsvDialect CSV_COMMA{';', ','};

// The dialect a spreadsheet of a locale with that decimal separator opens.
TCsvDialect CsvDialectFor(std::string_view LocaleDecimalSeparator);

// One field: quoted when it holds the field separator, a quote or a line break.
std::string CsvField(const std::string& Text, const TCsvDialect& Dialect);
// A number text with '.' ("230.5") in the dialect's decimal separator, as a field.
std::string CsvNumber(const std::string& Text, const TCsvDialect& Dialect);
// The fields as one line, ended by CR LF.
std::string CsvLine(const std::vector<std::string>& Fields, const TCsvDialect& Dialect);
