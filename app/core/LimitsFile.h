#pragma once
// The limits file of the commissioning test ("limits.cfg"): one line per
// entry, "OBIS|min|max" or "OBIS|min|max|note", with the text conventions of
// the map files (byte-order mark or Windows-1252, CR LF / LF / CR line ends,
// fields split at every "|" and taken verbatim, no blank lines, no comments).
// min and max are decimal numbers written with '.' (whatever the locale); one
// of them may be left empty for a limit on one side only. Every numeric map
// entry with that OBIS code is held to the limits.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char LIMITS_FILE[] = "limits.cfg";

struct TLimit {
  std::string Obis;
  std::optional<double> Min;  // empty: no lower limit
  std::optional<double> Max;  // empty: no upper limit
  std::string MinText;        // as written in the file
  std::string MaxText;
  std::string Note;
  int Line = 0;  // 1-based line of the file
};

struct TLimitsFile {
  std::vector<TLimit> Limits;
  // The first bad line, named: "limits.cfg line 3: 'abc' is not a number (min)";
  // or why the file could not be read. Limits is empty then.
  std::string Error;
  bool Ok() const { return Error.empty(); }
};

// The limits in the bytes of a limits file; FileName only names it in messages.
TLimitsFile ParseLimits(std::string_view FileBytes, const std::string& FileName);

// Reads and parses the file.
TLimitsFile LoadLimitsFile(const std::string& FileName);
