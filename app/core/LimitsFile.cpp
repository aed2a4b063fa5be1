#include "LimitsFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <map>
#include <string>

#include "MapFileText.h"

namespace {

// "abc", or "12345... (52428800 bytes)" for a long text.
std::string Excerpt(std::string_view Text) {
  return FileTextExcerpt(Text);
}

// "'abc'", or "'12345...' (52428800 bytes)".
std::string Quoted(std::string_view Text) {
  return QuotedFileText(Text);
}

// A file of UTF-16 text saved without its byte-order mark: one byte of most
// pairs is 0, which no Windows-1252 or UTF-8 text has. Read as Windows-1252
// it would give "'2' is not a number" with the NUL bytes hidden.
bool LooksLikeUtf16WithoutMark(std::string_view Bytes) {
  if (Bytes.starts_with("\xFF\xFE") || Bytes.starts_with("\xFE\xFF")) return false;
  const std::size_t pairs = std::min<std::size_t>(Bytes.size(), 1024) / 2;
  std::size_t oneZero = 0;
  for (std::size_t i = 0; i < pairs; ++i)
    oneZero += (Bytes[2 * i] == '\0') != (Bytes[2 * i + 1] == '\0');
  return pairs > 0 && 2 * oneZero >= pairs;
}

// A finite decimal number in the C locale's spelling; an empty text is no limit.
std::optional<double> LimitNumber(std::string_view Text, const std::string& Which,
                                  std::string& Error) {
  if (Text.empty()) return std::nullopt;
  // from_chars takes no '+'; one is allowed before the digits (but not "+-1").
  const bool plus = Text.front() == '+';
  const std::string_view digits = plus ? Text.substr(1) : Text;
  double value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  const bool whole = !digits.empty() && !(plus && digits.front() == '-') && ec == std::errc{} &&
                     end == digits.data() + digits.size();
  if (!whole || !std::isfinite(value)) {
    Error = Quoted(Text) + " is not a number (" + Which + ")";
    if (Text.find(',') != std::string_view::npos) Error += "; write decimals with '.'";
    return std::nullopt;
  }
  return value;
}

}  // namespace

TLimitsFile ParseLimits(std::string_view FileBytes, const std::string& FileName) {
  TLimitsFile file;
  if (LooksLikeUtf16WithoutMark(FileBytes)) {
    file.Error = FileName +
                 ": the file looks like UTF-16 without a byte-order mark; save it as UTF-8, "
                 "or as UTF-16 with its byte-order mark";
    return file;
  }
  const std::string text = MapFileTextToUtf8(FileBytes);
  const std::vector<std::string_view> lines = SplitMapLines(text);
  std::map<std::string, int> seen;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const int lineNumber = static_cast<int>(n) + 1;
    const std::vector<std::string_view> fields = SplitMapFields(lines[n]);
    std::string error;
    TLimit limit;
    limit.Line = lineNumber;
    if (fields.empty()) {
      error = "the line is empty";
    } else if (fields.size() < 3 || fields.size() > 4) {
      error = "expected OBIS|min|max or OBIS|min|max|note, found " + std::to_string(fields.size()) +
              " field" + (fields.size() == 1 ? "" : "s");
    } else if (fields[0].empty()) {
      error = "the OBIS code is empty";
    } else {
      limit.Obis = fields[0];
      limit.MinText = fields[1];
      limit.MaxText = fields[2];
      if (fields.size() == 4) limit.Note = fields[3];
      limit.Min = LimitNumber(fields[1], "min", error);
      if (error.empty()) limit.Max = LimitNumber(fields[2], "max", error);
      if (!error.empty()) {
        // the number's message stands
      } else if (!limit.Min && !limit.Max) {
        error = "neither min nor max is given";
      } else if (limit.Min && limit.Max && *limit.Min > *limit.Max) {
        error = "min " + Excerpt(limit.MinText) + " is above max " + Excerpt(limit.MaxText);
      } else if (const auto [it, fresh] = seen.emplace(limit.Obis, lineNumber); !fresh) {
        error = "OBIS " + Excerpt(limit.Obis) + " already has limits on line " +
                std::to_string(it->second);
      }
    }
    if (!error.empty()) {
      file.Limits.clear();
      file.Error = FileName + " line " + std::to_string(lineNumber) + ": " + error;
      return file;
    }
    file.Limits.push_back(std::move(limit));
  }
  if (file.Limits.empty()) file.Error = FileName + ": the file holds no limits";
  return file;
}

TLimitsFile LoadLimitsFile(const std::string& FileName) {
  try {
    return ParseLimits(ReadMapFileBytes(FileName), FileName);
  } catch (const std::exception& error) {
    TLimitsFile file;
    file.Error = "cannot read the limits file: " + std::string(error.what());
    return file;
  }
}
