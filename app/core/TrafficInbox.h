#pragma once
// Hands traffic entries from the threads that emit frames (a TCP cycle's
// worker, a serial connection's worker) to the thread that shows them, which
// takes them in batches. Pushing only takes a short lock, so a frame hook
// listener stays quick. A reader that falls behind (a window that is busy)
// finds at most the newest Capacity entries and the count of those dropped.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "TrafficEntry.h"
#include "TrafficStore.h"

class TTrafficInbox {
 public:
  explicit TTrafficInbox(std::size_t Capacity = TRAFFIC_STORE_CAPACITY) : FCapacity(Capacity) {}

  // Any thread.
  void Push(TTrafficEntry Entry);
  // Everything pushed since the last call, oldest first; Dropped (when given)
  // receives how many older entries did not fit.
  std::vector<TTrafficEntry> TakeAll(std::uint64_t* Dropped = nullptr);
  bool Empty() const;

 private:
  mutable std::mutex FLock;
  std::vector<TTrafficEntry> FEntries;
  std::size_t FCapacity;
  std::uint64_t FDropped = 0;
};
