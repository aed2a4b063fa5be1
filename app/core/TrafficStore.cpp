#include "TrafficStore.h"

#include <stdexcept>

TTrafficStore::TTrafficStore(std::size_t Capacity) : FSlots(Capacity == 0 ? 1 : Capacity) {}

std::size_t TTrafficStore::Add(TTrafficEntry Entry) {
  if (FSize < FSlots.size()) {
    FSlots[(FFirst + FSize) % FSlots.size()] = std::move(Entry);
    ++FSize;
    return 0;
  }
  FSlots[FFirst] = std::move(Entry);  // the oldest slot takes the newest entry
  FFirst = (FFirst + 1) % FSlots.size();
  return 1;
}

void TTrafficStore::Clear() {
  for (TTrafficEntry& slot : FSlots) slot = TTrafficEntry{};
  FFirst = 0;
  FSize = 0;
}

void TTrafficStore::DropOldest(std::size_t Count) {
  for (; Count > 0 && FSize > 0; --Count, --FSize) {
    FSlots[FFirst] = TTrafficEntry{};  // its bytes are freed now, not when overwritten
    FFirst = (FFirst + 1) % FSlots.size();
  }
}

const TTrafficEntry& TTrafficStore::At(std::size_t Index) const {
  if (Index >= FSize) throw std::out_of_range("traffic entry index out of range");
  return FSlots[(FFirst + Index) % FSlots.size()];
}
