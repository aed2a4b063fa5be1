#include "MonitorPrinter.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace {

const char* RoleName(TFrameRole Role) {
  switch (Role) {
    case TFrameRole::frRequest:
      return "request";
    case TFrameRole::frReply:
      return "reply";
    case TFrameRole::frUnknown:
      break;
  }
  return "unknown";
}

const char* OutcomeName(TFrameOutcome Outcome) {
  switch (Outcome) {
    case TFrameOutcome::foOk:
      return "ok";
    case TFrameOutcome::foException:
      return "exception";
    case TFrameOutcome::foChecksumError:
      return "checksum error";
    case TFrameOutcome::foLengthError:
      return "length error";
    case TFrameOutcome::foUnmatched:
      return "unmatched";
    case TFrameOutcome::foTimeout:
      break;
  }
  return "time-out";
}

}  // namespace

std::string MonitorTextLine(const TTrafficEntry& Entry) {
  std::string line =
      ClockTimeText(Entry.Time) + ' ' + FrameBytesText(Entry.Framing, Entry.Bytes) + "  ";
  if (IsInvalidFrame(Entry)) line += "invalid frame: ";
  line += Entry.Summary;
  if (Entry.ResponseTime) line += "  " + MillisecondsText(*Entry.ResponseTime) + " ms";
  return line;
}

std::string MonitorJsonLine(const TTrafficEntry& Entry) {
  nlohmann::ordered_json line;
  line["time"] = IsoTimeText(Entry.Time);
  line["bytes"] = FrameBytesText(Entry.Framing, Entry.Bytes);
  line["summary"] = Entry.Summary;
  line["valid"] = !IsInvalidFrame(Entry);
  line["role"] = RoleName(Entry.Role);
  line["outcome"] = OutcomeName(Entry.Outcome);
  if (Entry.ResponseTime)
    line["response_ms"] =
        std::round(std::chrono::duration<double, std::milli>(*Entry.ResponseTime).count() * 1000) /
        1000;
  // Line noise can hold any byte: it is shown as hex, and the summary is ASCII.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void PrintMonitorEntry(std::ostream& Out, EMonitorFormat Format, const TTrafficEntry& Entry) {
  Out << (Format == EMonitorFormat::mfJsonl ? MonitorJsonLine(Entry) : MonitorTextLine(Entry))
      << std::endl;
}
