#include "FrameHook.h"

#include <algorithm>
#include <mutex>

TFrameHook::TToken TFrameHook::Subscribe(TListener Listener) {
  std::unique_lock lock(FLock);
  const TToken token = FNextToken++;
  FListeners.push_back({token, std::move(Listener)});
  return token;
}

void TFrameHook::Unsubscribe(TToken Token) {
  std::unique_lock lock(FLock);
  std::erase_if(FListeners, [Token](const TEntry& E) { return E.Token == Token; });
}

bool TFrameHook::Active() const {
  std::shared_lock lock(FLock);
  return !FListeners.empty();
}

void TFrameHook::Emit(const TFrameRecord& Record) const {
  std::shared_lock lock(FLock);
  for (const TEntry& entry : FListeners)
    if (entry.Listener) entry.Listener(Record);
}
