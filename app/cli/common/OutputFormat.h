#pragma once
// The output formats of the headless programs and the pieces they are made
// of: CSV fields (RFC 4180), aligned text tables, and numbers written for a
// reader (the user's decimal separator) or for a machine (always '.').

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

enum class EOutputFormat { ofTable, ofCsv, ofJson, ofJsonl };
inline constexpr std::array<EOutputFormat, 4> ALL_OUTPUT_FORMATS = {
    EOutputFormat::ofTable, EOutputFormat::ofCsv, EOutputFormat::ofJson, EOutputFormat::ofJsonl};

// "table", "csv", "json" or "jsonl".
const char* FormatName(EOutputFormat Format);

// One field of a CSV record: quoted (with doubled quotes) when it holds a
// comma, a quote, a CR or an LF; as it is otherwise.
std::string CsvField(std::string_view Text);

// Appends one CSV record with its CR LF line end to Out.
void AppendCsvRecord(std::string& Out, const std::vector<std::string_view>& Fields);

// The UTF-8 byte-order mark spreadsheet programs look for.
inline constexpr char UTF8_BOM[] = "\xEF\xBB\xBF";

// Columns of a terminal a UTF-8 text takes (one per code point).
std::size_t DisplayWidth(std::string_view Text);

// Writes Rows (the first one is the header) as aligned columns, two blanks
// apart; the columns listed in RightAligned are aligned to the right. The
// last column is not padded, so lines carry no trailing blanks.
void WriteAlignedTable(std::ostream& Out, const std::vector<std::vector<std::string_view>>& Rows,
                       const std::vector<std::size_t>& RightAligned);

// The decimal separator of the C library's LC_NUMERIC locale ("." when it has
// none); call setlocale(LC_ALL, "") first to follow the user.
std::string UserDecimalSeparator();
