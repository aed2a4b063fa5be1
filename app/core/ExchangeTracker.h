#pragma once
// A line monitor sees queries and replies alike, all of them received. This
// tells them apart the way a person reading the line would: a frame that
// answers the query just seen (same address, same function, the shape of a
// reply, or an exception) is its reply, timed from the query; any other
// well-formed frame is judged by its shape, a query when it could be one.

#include <chrono>
#include <cstdint>
#include <optional>

#include "FrameHook.h"
#include "FrameSummary.h"

class TExchangeTracker {
 public:
  struct TVerdict {
    TFrameRole Role = TFrameRole::frUnknown;               // unknown for a frame that is not sound
    std::optional<std::chrono::nanoseconds> ResponseTime;  // a reply to the query seen
  };

  TVerdict Classify(const TFrameRecord& Record);

 private:
  struct TPending {
    std::uint8_t Address;
    std::uint8_t Function;
    std::chrono::steady_clock::time_point Time;
  };
  std::optional<TPending> FPending;  // the last query, while its reply has not been seen
};
