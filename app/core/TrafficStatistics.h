#pragma once
// Counts of what went over the wire, for the window's status bar, the
// poller's --stats and the line monitor's closing line: requests, good
// replies, time-outs, exception replies, frame errors (CRC, LRC, length),
// frames not matched to a request and the response time's minimum, average,
// maximum and last value.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "TrafficEntry.h"

struct TResponseTimes {
  std::chrono::nanoseconds Min{0};
  std::chrono::nanoseconds Max{0};
  std::chrono::nanoseconds Last{0};
  std::chrono::nanoseconds Total{0};
  std::uint64_t Count = 0;
  std::chrono::nanoseconds Average() const;
};

class TTrafficStatistics {
 public:
  void Add(const TTrafficEntry& Entry);
  void Reset() { *this = TTrafficStatistics{}; }

  std::uint64_t Requests() const { return FRequests; }
  std::uint64_t Replies() const { return FReplies; }  // normal replies that matched
  std::uint64_t Timeouts() const { return FTimeouts; }
  std::uint64_t Exceptions() const { return FExceptions; }
  std::uint64_t CrcErrors() const { return FCrcErrors; }
  std::uint64_t LrcErrors() const { return FLrcErrors; }
  std::uint64_t LengthErrors() const { return FLengthErrors; }
  std::uint64_t FrameErrors() const { return FCrcErrors + FLrcErrors + FLengthErrors; }
  // Well-formed replies that were not the reply awaited.
  std::uint64_t Unmatched() const { return FUnmatched; }
  // Of normal and exception replies; empty while there were none.
  std::optional<TResponseTimes> ResponseTimes() const;

  // "requests 9, replies 9, time-outs 0, exceptions 0, frame errors 0,
  // response ms min 0.4 avg 0.6 max 1.1"; "response ms min - avg - max -"
  // while no reply has been timed. Frames not matched, when there were some,
  // follow the frame errors: "frame errors 0, not matched 2, response ms ...".
  std::string Line() const;

 private:
  void AddResponseTime(std::chrono::nanoseconds Time);

  std::uint64_t FRequests = 0;
  std::uint64_t FReplies = 0;
  std::uint64_t FTimeouts = 0;
  std::uint64_t FExceptions = 0;
  std::uint64_t FCrcErrors = 0;
  std::uint64_t FLrcErrors = 0;
  std::uint64_t FLengthErrors = 0;
  std::uint64_t FUnmatched = 0;
  TResponseTimes FTimes;
};
