#include "TrendHistory.h"

#include <algorithm>
#include <cmath>

#include "EntryValues.h"

TTrendHistory::TTrendHistory(const TRegisterMap& Map, const std::vector<std::size_t>& Entries) {
  for (const std::size_t entry : Entries) {
    if (entry >= Map.Regs().size() || !HasNumericValue(Map.Regs()[entry].regType)) continue;
    const TConfigRecord& record = Map.Regs()[entry];
    FSeries.push_back(TTrendSeries{entry, record.desc, UnitOf(record.desc), {}});
  }
}

void TTrendHistory::AddCycle(std::chrono::system_clock::time_point Time, const TRegisterMap& Map,
                             bool Ok) {
  for (TTrendSeries& series : FSeries) {
    // Another map (QVZT mode, say) may put another quantity at this index.
    const bool sameEntry = series.Entry < Map.Regs().size() &&
                           series.Entry < Map.RegNumbers().size() &&
                           Map.Regs()[series.Entry].desc == series.Name;
    if (Ok && sameEntry)
      if (const auto value = NumberValue(Map.RegNumbers()[series.Entry]);
          value && std::isfinite(*value))
        series.Points.push_back(TTrendPoint{Time, *value});
    while (!series.Points.empty() && series.Points.front().Time < Time - TREND_LONGEST_SPAN)
      series.Points.pop_front();
  }
}

std::vector<std::string> TTrendHistory::Units() const {
  std::vector<std::string> units;
  for (const TTrendSeries& series : FSeries)
    if (std::find(units.begin(), units.end(), series.Unit) == units.end())
      units.push_back(series.Unit);
  return units;
}
