#pragma once
// The values of a few map entries over time, for the live trend chart: one
// series per entry, a point per cycle that brought a number, and nothing
// older than the longest span the chart can show, so that a chart left open
// for days takes the same memory as one opened a minute ago.

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "RegisterMap.h"

inline constexpr std::chrono::minutes TREND_DEFAULT_SPAN{10};
inline constexpr std::chrono::minutes TREND_LONGEST_SPAN{60};

struct TTrendPoint {
  std::chrono::system_clock::time_point Time;
  double Value = 0;
};

struct TTrendSeries {
  std::size_t Entry = 0;  // index of the map entry
  std::string Name;       // its description
  std::string Unit;       // from the description's parentheses
  std::deque<TTrendPoint> Points;
};

class TTrendHistory {
 public:
  // One series for each of Entries that has a numeric value; the others are
  // left out. Entries outside the map are ignored.
  TTrendHistory(const TRegisterMap& Map, const std::vector<std::size_t>& Entries);

  // A finished cycle: a point for every series whose entry holds a finite
  // number in the map (Ok false, "<N/A>", NAN and an entry that is now
  // another quantity add none).
  void AddCycle(std::chrono::system_clock::time_point Time, const TRegisterMap& Map, bool Ok);

  const std::vector<TTrendSeries>& Series() const { return FSeries; }
  // The units of the series, each once, in the order first seen.
  std::vector<std::string> Units() const;

 private:
  std::vector<TTrendSeries> FSeries;
};
