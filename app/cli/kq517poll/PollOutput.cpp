#include "PollOutput.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

namespace {

constexpr std::array<const char*, GRID_COLUMN_COUNT> JSON_KEYS = {
    "address", "type", "obis", "value", "raw", "description"};

// Length of the valid UTF-8 sequence at the start of Text (1 to 4), or 0 when
// it is not one: stray continuation bytes, overlong forms, surrogates and
// code points above U+10FFFF are all refused.
size_t Utf8SequenceLength(std::string_view Text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(Text[i]); };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length;
  uint32_t min;
  uint32_t code;
  if ((lead & 0xE0) == 0xC0) { length = 2; min = 0x80; code = lead & 0x1Fu; }
  else if ((lead & 0xF0) == 0xE0) { length = 3; min = 0x800; code = lead & 0x0Fu; }
  else if ((lead & 0xF8) == 0xF0) { length = 4; min = 0x10000; code = lead & 0x07u; }
  else return 0;
  if (Text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3Fu);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::optional<EOutputFormat> OutputFormatFromName(std::string_view Name) {
  if (Name == "table") return EOutputFormat::ofTable;
  if (Name == "csv") return EOutputFormat::ofCsv;
  if (Name == "json") return EOutputFormat::ofJson;
  return std::nullopt;
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

std::string JsonString(std::string_view Text) {
  std::string out = "\"";
  for (size_t i = 0; i < Text.size();) {
    const size_t length = Utf8SequenceLength(Text.substr(i));
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
      ++i;
      continue;
    }
    const char c = Text[i];
    if (length > 1) out.append(Text.substr(i, length));
    else if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(static_cast<uint8_t>(c)));
      out += escaped;
    } else out += c;
    i += length;
  }
  return out + '"';
}

std::size_t DisplayWidth(std::string_view Text) {
  std::size_t width = 0;
  for (size_t i = 0; i < Text.size();) {
    const size_t length = Utf8SequenceLength(Text.substr(i));
    i += length == 0 ? 1 : length;
    ++width;
  }
  return width;
}

void TPollPrinter::PrintCycle(const std::vector<TGridRow>& Rows) {
  switch (FFormat) {
    case EOutputFormat::ofTable: PrintTable(Rows); break;
    case EOutputFormat::ofCsv: PrintCsv(Rows); break;
    case EOutputFormat::ofJson: PrintJson(Rows); break;
  }
  ++FCycles;
  FOut.flush();
}

void TPollPrinter::PrintTable(const std::vector<TGridRow>& Rows) {
  std::array<std::size_t, GRID_COLUMN_COUNT> widths{};
  for (int c = 0; c < GRID_COLUMN_COUNT; ++c) widths[c] = DisplayWidth(GRID_HEADERS[c]);
  for (const TGridRow& row : Rows)
    for (int c = 0; c < GRID_COLUMN_COUNT; ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));

  // The address column reads best right-aligned; the rest left-aligned, and
  // the last column is not padded so lines carry no trailing blanks.
  const auto printLine = [&](auto cell) {
    std::string line;
    for (int c = 0; c < GRID_COLUMN_COUNT; ++c) {
      const std::string_view text = cell(c);
      const std::string padding(widths[c] - DisplayWidth(text), ' ');
      if (c > 0) line += "  ";
      if (c == gcAddress) line.append(padding).append(text);
      else if (c == GRID_COLUMN_COUNT - 1) line.append(text);
      else line.append(text).append(padding);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    FOut << line << '\n';
  };

  if (FCycles > 0) FOut << '\n';
  printLine([](int c) { return std::string_view(GRID_HEADERS[c]); });
  for (const TGridRow& row : Rows) printLine([&](int c) { return std::string_view(row[c]); });
}

void TPollPrinter::PrintCsv(const std::vector<TGridRow>& Rows) {
  const auto printRecord = [&](auto cell) {
    for (int c = 0; c < GRID_COLUMN_COUNT; ++c) FOut << (c > 0 ? "," : "") << CsvField(cell(c));
    FOut << "\r\n";
  };
  if (FCycles == 0) printRecord([](int c) { return std::string_view(GRID_HEADERS[c]); });
  for (const TGridRow& row : Rows) printRecord([&](int c) { return std::string_view(row[c]); });
}

void TPollPrinter::PrintJson(const std::vector<TGridRow>& Rows) {
  FOut << "[";
  for (size_t r = 0; r < Rows.size(); ++r) {
    FOut << (r > 0 ? ",\n " : "\n ") << "{";
    for (int c = 0; c < GRID_COLUMN_COUNT; ++c)
      FOut << (c > 0 ? ", " : "") << '"' << JSON_KEYS[c] << "\": " << JsonString(Rows[r][c]);
    FOut << "}";
  }
  FOut << (Rows.empty() ? "]\n" : "\n]\n");
}
