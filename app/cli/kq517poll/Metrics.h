#pragma once
// The poll's figures for Prometheus: the latest cycle, the count of good and
// failed cycles, when the last good one ended and how long the latest took,
// written in the Prometheus text exposition format (version 0.0.4).

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "CycleRecord.h"

struct TMetricsSnapshot {
  std::optional<TCycleRecord> Latest;
  std::uint64_t PollsOk = 0;
  std::uint64_t PollsFailed = 0;
  std::optional<std::chrono::system_clock::time_point> LastSuccess;  // end of the last good cycle
};

// The exposition text: kq517_value for every numeric value of the latest
// cycle when it was good (none for "<N/A>", none after a failed cycle, so
// that no stale value looks current), kq517_polls_total{result},
// kq517_last_success_timestamp_seconds (once a cycle was good) and
// kq517_poll_duration_seconds (once a cycle ran).
std::string RenderMetrics(const TMetricsSnapshot& Snapshot);

// A label value with backslash, double quote and line feed escaped.
std::string MetricLabelValue(const std::string& Text);

// The state the poll loop updates and the metrics server reads, from
// different threads.
class TMetricsState {
 public:
  void Record(const TCycleRecord& Cycle);
  std::string Render() const;

 private:
  mutable std::mutex FLock;
  TMetricsSnapshot FSnapshot;
};
