#pragma once
// One line of plain words for one Modbus frame, as the traffic panel, the
// poller's --trace and the line monitor show it: "slave 1 read holding
// registers 0+124", "reply 124 registers", "exception 2 illegal data
// address", "CRC error", "time-out". The command-line programs speak English,
// the window Italian ("lettura registri holding 0+124"). Works on any bytes: a
// frame that is cut short or malformed is described as such, and nothing past
// the bytes given is ever read.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FrameHook.h"

// The language of the summaries.
enum class TSummaryLanguage : std::uint8_t { slEnglish, slItalian };

// Which side of an exchange a frame is.
enum class TFrameRole : std::uint8_t {
  frRequest,  // a query from the master
  frReply,    // the answer of a slave
  frUnknown,  // not known (a line monitor): judged from the frame's shape
};

// The protocol content of a frame, once the line framing is taken off.
struct TFramePdu {
  std::uint8_t Address = 0;       // slave address (RTU, ASCII) or unit identifier (TCP)
  std::vector<std::uint8_t> Pdu;  // function code, then its data
};

// The address and PDU of a frame; none when the bytes are not shaped like a
// frame of that framing (too short, an ASCII frame with a non-hex character).
// The error check is not verified here: the stack that emitted the frame has
// judged it already.
std::optional<TFramePdu> ExtractPdu(TFrameFraming Framing, std::span<const std::uint8_t> Bytes);

// Whether Pdu has the exact size of a request, or of a reply, of its function
// code. Function codes whose sizes are not known fit both.
bool FitsRequest(std::span<const std::uint8_t> Pdu);
bool FitsReply(std::span<const std::uint8_t> Pdu);
// Either: a frame that fits neither has a length error, whatever its check says.
bool FitsItsFunction(std::span<const std::uint8_t> Pdu);

// The one-line summary of a frame with its outcome.
std::string SummarizeFrame(TFrameFraming Framing, TFrameOutcome Outcome,
                           std::span<const std::uint8_t> Bytes, TFrameRole Role,
                           TSummaryLanguage Language = TSummaryLanguage::slEnglish);

// The summaries of what is not a frame: "not matched: WHY" (a frame the stack
// could not pair with its request) and "line noise (N bytes)".
std::string NotMatchedText(const std::string& Why,
                           TSummaryLanguage Language = TSummaryLanguage::slEnglish);
std::string LineNoiseText(std::size_t Bytes,
                          TSummaryLanguage Language = TSummaryLanguage::slEnglish);

// "illegal data address" and the other exception names of the Modbus
// application protocol; "unknown exception" for codes it does not define.
std::string ExceptionName(std::uint8_t Code,
                          TSummaryLanguage Language = TSummaryLanguage::slEnglish);
