#pragma once
// --trace and --stats of the poller: listens to the transport's frame hook,
// writes one line per frame to the error stream as it happens, and counts
// the traffic for the closing statistics line.

#include <mutex>
#include <ostream>

#include "FrameHook.h"
#include "TrafficStatistics.h"

class TPollTraffic {
 public:
  // Listens only when Trace or Stats asks for it. Hook must outlive this.
  TPollTraffic(TFrameHook& Hook, bool Trace, bool Stats, std::ostream& Err);
  ~TPollTraffic();
  TPollTraffic(const TPollTraffic&) = delete;
  TPollTraffic& operator=(const TPollTraffic&) = delete;

  // With Stats: "requests 9, replies 9, ..." on the error stream.
  void PrintStatistics();

 private:
  TFrameHook& FHook;
  TFrameHook::TToken FToken = 0;
  bool FTrace;
  bool FStats;
  std::ostream& FErr;
  std::mutex FLock;  // the serial worker reports from its own thread
  TTrafficStatistics FStatistics;
};
