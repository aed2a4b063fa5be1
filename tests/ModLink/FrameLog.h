// Collects what a connection's frame hook reports, from whichever thread emits it, until
// the log is destroyed.
#pragma once

#include <cstdint>
#include <mutex>
#include <tuple>
#include <vector>

#include "FrameHook.h"

namespace serialtest {

class TFrameLog {
 public:
  // Direction, outcome and bytes of one record.
  using TEntry = std::tuple<TFrameDirection, TFrameOutcome, std::vector<std::uint8_t>>;

  explicit TFrameLog(TFrameHook& Hook)
      : FHook(Hook), FToken(Hook.Subscribe([this](const TFrameRecord& R) {
          std::lock_guard<std::mutex> Guard(FLock);
          FRecords.push_back(R);
        })) {}
  ~TFrameLog() { FHook.Unsubscribe(FToken); }
  TFrameLog(const TFrameLog&) = delete;
  TFrameLog& operator=(const TFrameLog&) = delete;

  std::vector<TFrameRecord> Records() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FRecords;
  }
  std::vector<TEntry> Entries() const {
    std::vector<TEntry> Result;
    for (const TFrameRecord& R : Records()) Result.emplace_back(R.Direction, R.Outcome, R.Bytes);
    return Result;
  }
  std::size_t Count() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FRecords.size();
  }

 private:
  TFrameHook& FHook;
  mutable std::mutex FLock;
  std::vector<TFrameRecord> FRecords;
  TFrameHook::TToken FToken;  // last: the listener may run as soon as it is subscribed
};

}  // namespace serialtest
