#pragma once
// Printing the grid texts of each poll cycle as an aligned table, as CSV
// (RFC 4180) or as JSON. The texts are those of the window's grid, columns
// "Indirizzo", "Tipo", "OBIS", "Valore", "Valore Registri", "Descrizione".

#include "RegisterGrid.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

enum class EOutputFormat { ofTable, ofCsv, ofJson };

// "table", "csv" or "json".
std::optional<EOutputFormat> OutputFormatFromName(std::string_view Name);

// One field of a CSV record: quoted (with doubled quotes) when it holds a
// comma, a quote, a CR or an LF; as it is otherwise.
std::string CsvField(std::string_view Text);

// A JSON string literal of UTF-8 Text, quotes included; control characters
// escaped, bytes that are not valid UTF-8 replaced by U+FFFD.
std::string JsonString(std::string_view Text);

// Columns of a terminal a UTF-8 text takes (one per code point).
std::size_t DisplayWidth(std::string_view Text);

// Writes the rows of successive cycles in one format:
//  table  a header and the rows of each cycle, aligned; a blank line between cycles;
//  csv    the header line once, then the records of every cycle, CR LF line ends;
//  json   one array of objects per cycle, each a complete JSON text.
class TPollPrinter {
public:
  TPollPrinter(std::ostream& Out, EOutputFormat Format) : FOut(Out), FFormat(Format) {}
  void PrintCycle(const std::vector<TGridRow>& Rows);

private:
  void PrintTable(const std::vector<TGridRow>& Rows);
  void PrintCsv(const std::vector<TGridRow>& Rows);
  void PrintJson(const std::vector<TGridRow>& Rows);

  std::ostream& FOut;
  EOutputFormat FFormat;
  int FCycles = 0;
};
