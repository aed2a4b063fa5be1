#pragma once
// The last frames of the traffic record, oldest first, never more than a
// fixed number: a new frame beyond that pushes out the oldest one, so a
// record that runs for days takes the same memory as one that ran a minute.

#include <cstddef>
#include <vector>

#include "TrafficEntry.h"

inline constexpr std::size_t TRAFFIC_STORE_CAPACITY = 10000;

class TTrafficStore {
 public:
  explicit TTrafficStore(std::size_t Capacity = TRAFFIC_STORE_CAPACITY);

  // Appends Entry; returns how many old entries it pushed out (0 or 1).
  std::size_t Add(TTrafficEntry Entry);
  void Clear();
  // Forgets the Count oldest entries (all of them when there are fewer).
  void DropOldest(std::size_t Count);

  std::size_t Size() const { return FSize; }
  std::size_t Capacity() const { return FSlots.size(); }
  // Entry Index, 0 being the oldest kept; Index must be below Size().
  const TTrafficEntry& At(std::size_t Index) const;

 private:
  std::vector<TTrafficEntry> FSlots;  // a ring: FFirst is the oldest
  std::size_t FFirst = 0;
  std::size_t FSize = 0;
};
