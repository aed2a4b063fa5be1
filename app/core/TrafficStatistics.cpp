#include "TrafficStatistics.h"

#include <algorithm>

std::chrono::nanoseconds TResponseTimes::Average() const {
  return Count == 0 ? std::chrono::nanoseconds{0}
                    : Total / static_cast<std::chrono::nanoseconds::rep>(Count);
}

void TTrafficStatistics::Add(const TTrafficEntry& Entry) {
  switch (Entry.Outcome) {
    case TFrameOutcome::foOk:
      if (Entry.Role == TFrameRole::frReply) {
        ++FReplies;
        if (Entry.ResponseTime) AddResponseTime(*Entry.ResponseTime);
      } else {
        ++FRequests;
      }
      break;
    case TFrameOutcome::foException:
      ++FExceptions;
      if (Entry.ResponseTime) AddResponseTime(*Entry.ResponseTime);
      break;
    case TFrameOutcome::foTimeout:
      // A request the line did not take in time is still a request made.
      if (Entry.Direction == TFrameDirection::fdSent)
        ++FRequests;
      else
        ++FTimeouts;
      break;
    case TFrameOutcome::foChecksumError:
      ++(Entry.Framing == TFrameFraming::ffAscii ? FLrcErrors : FCrcErrors);
      break;
    case TFrameOutcome::foLengthError:
      ++FLengthErrors;
      break;
    case TFrameOutcome::foUnmatched:
      ++FUnmatched;
      break;
  }
}

void TTrafficStatistics::AddResponseTime(std::chrono::nanoseconds Time) {
  FTimes.Min = FTimes.Count == 0 ? Time : std::min(FTimes.Min, Time);
  FTimes.Max = FTimes.Count == 0 ? Time : std::max(FTimes.Max, Time);
  FTimes.Last = Time;
  FTimes.Total += Time;
  ++FTimes.Count;
}

std::optional<TResponseTimes> TTrafficStatistics::ResponseTimes() const {
  if (FTimes.Count == 0) return std::nullopt;
  return FTimes;
}

std::string TTrafficStatistics::Line() const {
  std::string line = "requests " + std::to_string(FRequests) + ", replies " +
                     std::to_string(FReplies) + ", time-outs " + std::to_string(FTimeouts) +
                     ", exceptions " + std::to_string(FExceptions) + ", frame errors " +
                     std::to_string(FrameErrors());
  // Rare on a sound link, so only named when there were some.
  if (FUnmatched > 0) line += ", not matched " + std::to_string(FUnmatched);
  line += ", response ms ";
  if (const auto times = ResponseTimes())
    return line + "min " + MillisecondsText(times->Min) + " avg " +
           MillisecondsText(times->Average()) + " max " + MillisecondsText(times->Max);
  return line + "min - avg - max -";
}
