#include "Metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// A sample value as Prometheus reads it: the shortest text that gives the
// number back, '.' whatever the locale, NaN and +Inf / -Inf spelled its way.
std::string SampleValue(double Value) {
  if (std::isnan(Value)) return "NaN";
  if (std::isinf(Value)) return Value < 0 ? "-Inf" : "+Inf";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, Value);
  return std::string(text, result.ptr);
}

double SecondsSinceEpoch(std::chrono::system_clock::time_point Time) {
  return std::chrono::duration<double>(Time.time_since_epoch()).count();
}

// Every finite number of a numeric entry, in full precision.
void AppendValues(std::string& Out, const TCycleRecord& Cycle) {
  const std::string meter = std::to_string(Cycle.Meter);
  const std::size_t rows = std::min({Cycle.Rows.size(), Cycle.Types.size(), Cycle.Numbers.size()});
  for (std::size_t i = 0; i < rows; ++i) {
    const TGridRow& row = Cycle.Rows[i];
    if (!HasNumericValue(Cycle.Types[i]) || row[gcValue] == NOT_AVAIL) continue;
    const auto value = ShortestNumberText(Cycle.Numbers[i]);
    if (!value) continue;
    Out += "kq517_value{meter=\"" + meter + "\",address=\"" + MetricLabelValue(row[gcAddress]) +
           "\",obis=\"" + MetricLabelValue(row[gcObis]) + "\",description=\"" +
           MetricLabelValue(row[gcDescription]) + "\"} " + *value + "\n";
  }
}

}  // namespace

std::string MetricLabelValue(const std::string& Text) {
  std::string escaped;
  for (char c : Text) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

std::string RenderMetrics(const TMetricsSnapshot& Snapshot) {
  std::string out =
      "# HELP kq517_value Value of a map entry in the latest cycle, when it read the whole map.\n"
      "# TYPE kq517_value gauge\n";
  if (Snapshot.Latest && Snapshot.Latest->Ok) AppendValues(out, *Snapshot.Latest);
  out +=
      "# HELP kq517_polls_total Poll cycles run, by result.\n"
      "# TYPE kq517_polls_total counter\n"
      "kq517_polls_total{result=\"ok\"} " +
      std::to_string(Snapshot.PollsOk) +
      "\n"
      "kq517_polls_total{result=\"failed\"} " +
      std::to_string(Snapshot.PollsFailed) + "\n";
  out +=
      "# HELP kq517_last_success_timestamp_seconds When the last good cycle ended (Unix time).\n"
      "# TYPE kq517_last_success_timestamp_seconds gauge\n";
  if (Snapshot.LastSuccess)
    out += "kq517_last_success_timestamp_seconds " +
           SampleValue(SecondsSinceEpoch(*Snapshot.LastSuccess)) + "\n";
  out +=
      "# HELP kq517_poll_duration_seconds How long the latest cycle took.\n"
      "# TYPE kq517_poll_duration_seconds gauge\n";
  if (Snapshot.Latest)
    out += "kq517_poll_duration_seconds " + SampleValue(Snapshot.Latest->Duration.count()) + "\n";
  return out;
}

void TMetricsState::Record(const TCycleRecord& Cycle) {
  const std::lock_guard<std::mutex> lock(FLock);
  FSnapshot.Latest = Cycle;
  if (Cycle.Ok) {
    ++FSnapshot.PollsOk;
    FSnapshot.LastSuccess =
        Cycle.Time +
        std::chrono::duration_cast<std::chrono::system_clock::duration>(Cycle.Duration);
  } else {
    ++FSnapshot.PollsFailed;
  }
}

std::string TMetricsState::Render() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return RenderMetrics(FSnapshot);
}
