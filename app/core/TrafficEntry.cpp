#include "TrafficEntry.h"

#include <charconv>
#include <cstdio>
#include <ctime>

#include "platform/LocalTime.h"

namespace {

TTrafficEntry EntryOf(const TFrameRecord& Record, TFrameRole Role, TSummaryLanguage Language) {
  TTrafficEntry entry;
  entry.Time = WallClockTime(Record.Time);
  entry.Direction = Record.Direction;
  entry.Framing = Record.Framing;
  entry.Outcome = Record.Outcome;
  entry.Role = Role;
  entry.Bytes = Record.Bytes;
  if (!Record.NotMatched.empty())
    entry.Summary = NotMatchedText(Record.NotMatched, Language);
  else if (Record.NoiseBytes > 0)
    entry.Summary = LineNoiseText(Record.NoiseBytes, Language);
  else
    entry.Summary = SummarizeFrame(Record.Framing, Record.Outcome, Record.Bytes, Role, Language);
  return entry;
}

TLocalTime LocalTimeOf(std::chrono::system_clock::time_point Time, int& Millis) {
  const auto sinceEpoch = Time.time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
  Millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count());
  return LocalTime(static_cast<std::time_t>(seconds.count()));
}

}  // namespace

TTrafficEntry MasterTrafficEntry(const TFrameRecord& Record, TSummaryLanguage Language) {
  const bool received = Record.Direction == TFrameDirection::fdReceived;
  TTrafficEntry entry =
      EntryOf(Record, received ? TFrameRole::frReply : TFrameRole::frRequest, Language);
  if (received && Record.ResponseTime.count() > 0) entry.ResponseTime = Record.ResponseTime;
  return entry;
}

TTrafficEntry MonitorTrafficEntry(const TFrameRecord& Record, TFrameRole Role,
                                  std::optional<std::chrono::nanoseconds> ResponseTime) {
  // A monitor's library reports every frame with a right check as ok: one whose
  // length fits no request or reply of its function is a length error all the
  // same (its summary says what it looked like), an exception reply an exception.
  TTrafficEntry entry = EntryOf(Record, Role, TSummaryLanguage::slEnglish);
  if (entry.Outcome == TFrameOutcome::foOk) {
    const auto pdu = ExtractPdu(Record.Framing, Record.Bytes);
    if (pdu && !FitsItsFunction(pdu->Pdu))
      entry.Outcome = TFrameOutcome::foLengthError;
    else if (pdu && !pdu->Pdu.empty() && (pdu->Pdu[0] & 0x80))
      entry.Outcome = TFrameOutcome::foException;
  }
  entry.ResponseTime = ResponseTime;
  return entry;
}

std::chrono::system_clock::time_point WallClockTime(std::chrono::steady_clock::time_point Time) {
  const auto age = std::chrono::steady_clock::now() - Time;
  return std::chrono::system_clock::now() -
         std::chrono::duration_cast<std::chrono::system_clock::duration>(age);
}

std::string ClockTimeText(std::chrono::system_clock::time_point Time) {
  int millis = 0;
  const std::tm local = LocalTimeOf(Time, millis).Fields;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                millis);
  return text;
}

std::string IsoTimeText(std::chrono::system_clock::time_point Time) {
  int millis = 0;
  const TLocalTime time = LocalTimeOf(Time, millis);
  const std::tm& local = time.Fields;
  const int offset = time.UtcOffsetMinutes;
  const int absolute = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, millis, offset < 0 ? '-' : '+', absolute / 60 % 100, absolute % 60);
  return text;
}

std::string FrameBytesText(TFrameFraming Framing, const std::vector<std::uint8_t>& Bytes) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string text;
  if (Framing == TFrameFraming::ffAscii) {
    text.reserve(Bytes.size() + 8);
    for (const std::uint8_t byte : Bytes) {
      if (byte >= 0x20 && byte < 0x7F) {
        text += static_cast<char>(byte);
      } else {
        text += '<';
        text += HEX[byte >> 4];
        text += HEX[byte & 0x0F];
        text += '>';
      }
    }
    return text;
  }
  text.reserve(Bytes.size() * 3);
  for (const std::uint8_t byte : Bytes) {
    if (!text.empty()) text += ' ';
    text += HEX[byte >> 4];
    text += HEX[byte & 0x0F];
  }
  return text;
}

const char* DirectionText(TFrameDirection Direction) {
  return Direction == TFrameDirection::fdSent ? "TX" : "RX";
}

std::string MillisecondsText(std::chrono::nanoseconds Time) {
  const double ms = std::chrono::duration<double, std::milli>(Time).count();
  char text[32];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, ms, std::chars_format::fixed, 1);
  return error == std::errc{} ? std::string(text, end) : std::string("?");
}

bool IsInvalidFrame(const TTrafficEntry& Entry) {
  return Entry.Outcome == TFrameOutcome::foChecksumError ||
         Entry.Outcome == TFrameOutcome::foLengthError || Entry.Outcome == TFrameOutcome::foTimeout;
}

std::string TrafficLine(const TTrafficEntry& Entry) {
  std::string line = ClockTimeText(Entry.Time);
  line += ' ';
  line += DirectionText(Entry.Direction);
  line += ' ';
  line += FrameBytesText(Entry.Framing, Entry.Bytes);
  line += "  ";
  line += Entry.Summary;
  if (Entry.ResponseTime) line += "  " + MillisecondsText(*Entry.ResponseTime) + " ms";
  return line;
}

std::string DatedTrafficLine(const TTrafficEntry& Entry) {
  // IsoTimeText begins with "yyyy-mm-dd" of the same local time.
  return IsoTimeText(Entry.Time).substr(0, 10) + ' ' + TrafficLine(Entry);
}
