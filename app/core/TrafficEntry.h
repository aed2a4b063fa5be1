#pragma once
// One line of the traffic record: a frame as the frame hook reported it, with
// the wall-clock time, which side of the exchange it is and its summary, and
// the texts every view of the traffic shares (the traffic panel, --trace, the
// line monitor and the saved traffic file).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FrameHook.h"
#include "FrameSummary.h"

struct TTrafficEntry {
  std::chrono::system_clock::time_point Time;
  TFrameDirection Direction = TFrameDirection::fdSent;
  TFrameFraming Framing = TFrameFraming::ffTcp;
  TFrameOutcome Outcome = TFrameOutcome::foOk;
  TFrameRole Role = TFrameRole::frUnknown;
  std::vector<std::uint8_t> Bytes;
  std::string Summary;
  // A reply's (or a time-out's) wait since its request was written.
  std::optional<std::chrono::nanoseconds> ResponseTime;
};

// The entry of a frame on the requesting side of a link (the TCP client, the
// serial master): what it sent are requests, what it received are replies.
// Its summary is in Language.
TTrafficEntry MasterTrafficEntry(const TFrameRecord& Record,
                                 TSummaryLanguage Language = TSummaryLanguage::slEnglish);

// The entry of a frame seen by a line monitor, whose role and response time
// the caller has worked out (TExchangeTracker). A frame whose check is right
// but whose length fits no request or reply of its function is a length error.
TTrafficEntry MonitorTrafficEntry(const TFrameRecord& Record, TFrameRole Role,
                                  std::optional<std::chrono::nanoseconds> ResponseTime);

// The record's steady-clock time on the wall clock.
std::chrono::system_clock::time_point WallClockTime(std::chrono::steady_clock::time_point Time);

// "10:20:30.123", local time.
std::string ClockTimeText(std::chrono::system_clock::time_point Time);
// "2026-12-08T10:20:30.123+01:00", local time with its UTC offset.
std::string IsoTimeText(std::chrono::system_clock::time_point Time);

// The frame's bytes as they were on the line: two hex digits per byte, one
// blank apart; an ASCII frame as its characters, with CR and LF (and any
// other control character) as <0D>, <0A>.
std::string FrameBytesText(TFrameFraming Framing, const std::vector<std::uint8_t>& Bytes);

// "TX" or "RX".
const char* DirectionText(TFrameDirection Direction);

// Milliseconds with one decimal and '.', whatever the locale: "0.6".
std::string MillisecondsText(std::chrono::nanoseconds Time);

// A frame that did not arrive whole and sound: checksum, length, time-out.
bool IsInvalidFrame(const TTrafficEntry& Entry);

// The line of --trace and of a saved traffic file:
// "10:20:30.123 TX 00 01 00 00 00 06 00 03 00 00 00 7C  read holding registers 0+124",
// with "  1.1 ms" after a reply's summary.
std::string TrafficLine(const TTrafficEntry& Entry);
// The same line with the local date before its time, for a saved traffic
// file that may span midnight or be read days later:
// "2026-12-08 10:20:30.123 TX ...".
std::string DatedTrafficLine(const TTrafficEntry& Entry);
