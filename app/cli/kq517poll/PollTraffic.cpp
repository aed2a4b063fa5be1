#include "PollTraffic.h"

TPollTraffic::TPollTraffic(TFrameHook& Hook, bool Trace, bool Stats, std::ostream& Err)
    : FHook(Hook), FTrace(Trace), FStats(Stats), FErr(Err) {
  if (!FTrace && !FStats) return;
  FToken = FHook.Subscribe([this](const TFrameRecord& Record) {
    const TTrafficEntry entry = MasterTrafficEntry(Record);
    std::lock_guard lock(FLock);
    FStatistics.Add(entry);
    if (FTrace) FErr << TrafficLine(entry) << '\n' << std::flush;
  });
}

TPollTraffic::~TPollTraffic() {
  if (FToken != 0) FHook.Unsubscribe(FToken);
}

void TPollTraffic::PrintStatistics() {
  if (!FStats) return;
  std::lock_guard lock(FLock);
  FErr << FStatistics.Line() << '\n' << std::flush;
}
