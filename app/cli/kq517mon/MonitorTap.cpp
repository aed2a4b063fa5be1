#include "MonitorTap.h"

#include "RtuFrameSplitter.h"

void TMonitorTap::Take(const TFrameRecord& Received) {
  for (const TFrameRecord& frame : SeparateMonitoredFrames(Received)) {
    const auto verdict = FTracker.Classify(frame);
    TTrafficEntry entry = MonitorTrafficEntry(frame, verdict.Role, verdict.ResponseTime);
    FStatistics.Add(entry);
    FInbox.Push(std::move(entry));
  }
}
