#pragma once
// What the line monitor makes of the frames its connection reports, on the
// connection's worker thread: each record is split into the frames it holds,
// told a query or a reply, counted, and handed to the thread that prints. The
// counts hold every frame, also those the printing fell behind on and dropped.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ExchangeTracker.h"
#include "FrameHook.h"
#include "TrafficInbox.h"
#include "TrafficStatistics.h"

class TMonitorTap {
 public:
  explicit TMonitorTap(std::size_t InboxCapacity = TRAFFIC_STORE_CAPACITY)
      : FInbox(InboxCapacity) {}

  // The worker thread, from the frame hook.
  void Take(const TFrameRecord& Received);
  // The printing thread: the entries since the last call; Dropped receives how
  // many it fell behind on.
  std::vector<TTrafficEntry> TakeAll(std::uint64_t* Dropped) { return FInbox.TakeAll(Dropped); }
  // Once the hook no longer calls Take.
  const TTrafficStatistics& Statistics() const { return FStatistics; }

 private:
  TTrafficInbox FInbox;
  TExchangeTracker FTracker;
  TTrafficStatistics FStatistics;
};
