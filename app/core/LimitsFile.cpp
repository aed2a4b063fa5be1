#include "LimitsFile.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <map>

#include "MapFileText.h"

namespace {

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
    Error = "'" + std::string(Text) + "' is not a number (" + Which + ")";
    if (Text.find(',') != std::string_view::npos) Error += "; write decimals with '.'";
    return std::nullopt;
  }
  return value;
}

}  // namespace

TLimitsFile ParseLimits(std::string_view FileBytes, const std::string& FileName) {
  TLimitsFile file;
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
        error = "min " + limit.MinText + " is above max " + limit.MaxText;
      } else if (const auto [it, fresh] = seen.emplace(limit.Obis, lineNumber); !fresh) {
        error = "OBIS " + limit.Obis + " already has limits on line " + std::to_string(it->second);
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
