#include "TrafficInbox.h"

#include <algorithm>

void TTrafficInbox::Push(TTrafficEntry Entry) {
  std::lock_guard lock(FLock);
  FEntries.push_back(std::move(Entry));
  // Dropped in halves, so that a reader that stays away costs amortised
  // constant time per entry instead of a shift per push.
  if (FEntries.size() >= 2 * FCapacity) {
    const std::size_t excess = FEntries.size() - FCapacity;
    FEntries.erase(FEntries.begin(), FEntries.begin() + static_cast<std::ptrdiff_t>(excess));
    FDropped += excess;
  }
}

std::vector<TTrafficEntry> TTrafficInbox::TakeAll(std::uint64_t* Dropped) {
  std::vector<TTrafficEntry> taken;
  std::uint64_t dropped = 0;
  {
    std::lock_guard lock(FLock);
    taken.swap(FEntries);
    dropped = FDropped;
    FDropped = 0;
  }
  if (taken.size() > FCapacity) {
    const std::size_t excess = taken.size() - FCapacity;
    taken.erase(taken.begin(), taken.begin() + static_cast<std::ptrdiff_t>(excess));
    dropped += excess;
  }
  if (Dropped != nullptr) *Dropped = dropped;
  return taken;
}

bool TTrafficInbox::Empty() const {
  std::lock_guard lock(FLock);
  return FEntries.empty();
}
