#include "FrameSummary.h"

#include <array>

#include "PduSize.h"

namespace {

using TBytes = std::span<const std::uint8_t>;

constexpr std::size_t TCP_HEADER_SIZE = 7;  // transaction, protocol, length, unit
constexpr std::size_t RTU_CHECK_SIZE = 2;   // CRC-16

std::uint16_t Word(TBytes Pdu, std::size_t At) {
  return static_cast<std::uint16_t>(Pdu[At] << 8 | Pdu[At + 1]);
}

int HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// ':' hex pairs (address, PDU, LRC) and CR LF; the line end may be missing
// from a frame that was cut short.
std::optional<std::vector<std::uint8_t>> AsciiContent(TBytes Bytes) {
  if (Bytes.empty() || Bytes[0] != ':') return std::nullopt;
  std::size_t end = Bytes.size();
  while (end > 1 && (Bytes[end - 1] == '\r' || Bytes[end - 1] == '\n')) --end;
  const std::size_t digits = end - 1;
  if (digits % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> content;
  content.reserve(digits / 2);
  for (std::size_t i = 1; i + 1 < end; i += 2) {
    const int high = HexDigit(Bytes[i]);
    const int low = HexDigit(Bytes[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    content.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return content;
}

struct TFunction {
  std::uint8_t Code;
  const char* Name;
};
constexpr std::array<TFunction, 19> FUNCTIONS = {{
    {1, "read coils"},
    {2, "read discrete inputs"},
    {3, "read holding registers"},
    {4, "read input registers"},
    {5, "write single coil"},
    {6, "write single register"},
    {7, "read exception status"},
    {8, "diagnostics"},
    {11, "get comm event counter"},
    {12, "get comm event log"},
    {15, "write multiple coils"},
    {16, "write multiple registers"},
    {17, "report server id"},
    {20, "read file record"},
    {21, "write file record"},
    {22, "mask write register"},
    {23, "read/write multiple registers"},
    {24, "read FIFO queue"},
    {43, "encapsulated interface transport"},
}};

std::string FunctionName(std::uint8_t Code) {
  for (const TFunction& f : FUNCTIONS)
    if (f.Code == Code) return f.Name;
  return "function " + std::to_string(Code);
}

std::string N(std::size_t Value) {
  return std::to_string(Value);
}

std::string CoilValue(std::uint16_t Value) {
  if (Value == 0xFF00) return "on";
  if (Value == 0x0000) return "off";
  return "value " + N(Value) + " (neither on nor off)";
}

// A request's fields; the size was checked by FitsRequest.
std::string RequestText(TBytes Pdu) {
  const std::uint8_t code = Pdu[0];
  const std::string name = FunctionName(code);
  switch (code) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 15:
    case 16:
      return name + " " + N(Word(Pdu, 1)) + "+" + N(Word(Pdu, 3));
    case 5:
      return name + " " + N(Word(Pdu, 1)) + " " + CoilValue(Word(Pdu, 3));
    case 6:
      return name + " " + N(Word(Pdu, 1)) + " = " + N(Word(Pdu, 3));
    case 22:
      return name + " " + N(Word(Pdu, 1));
    case 23:
      return name + " " + N(Word(Pdu, 1)) + "+" + N(Word(Pdu, 3)) + ", write " + N(Word(Pdu, 5)) +
             "+" + N(Word(Pdu, 7));
    case 24:
      return name + " " + N(Word(Pdu, 1));
    default:
      return name;
  }
}

// A reply's fields; the size was checked by FitsReply.
std::string ReplyText(TBytes Pdu) {
  const std::uint8_t code = Pdu[0];
  switch (code) {
    case 1:
    case 2:
      return "reply " + N(Pdu[1]) + (Pdu[1] == 1 ? " byte" : " bytes") + " of bits";
    case 3:
    case 4:
    case 23:
      return "reply " + N(Pdu[1] / 2u) + (Pdu[1] == 2 ? " register" : " registers");
    case 5:
    case 6:
    case 15:
    case 16:
      return "reply " + RequestText(Pdu);
    default:
      return "reply " + FunctionName(code);
  }
}

std::string ExceptionText(TBytes Pdu) {
  if (Pdu.size() != 2) return "exception reply of " + N(Pdu.size()) + " bytes (length error)";
  return "exception " + N(Pdu[1]) + " " + ExceptionName(Pdu[1]);
}

// Who a request is for: "slave 1 " on a serial line, "broadcast " for
// address 0, "unit 3 " over TCP (nothing for unit 0, which most devices ignore).
std::string Addressee(TFrameFraming Framing, std::uint8_t Address) {
  if (Framing == TFrameFraming::ffTcp) return Address == 0 ? "" : "unit " + N(Address) + " ";
  return Address == 0 ? "broadcast " : "slave " + N(Address) + " ";
}

std::string DescribePdu(TFrameFraming Framing, const TFramePdu& Frame, TFrameRole Role) {
  const TBytes pdu(Frame.Pdu);
  if (pdu.empty()) return "frame without function code";
  if (pdu[0] & 0x80) return ExceptionText(pdu);
  const bool request = FitsRequest(pdu);
  const bool reply = FitsReply(pdu);
  if (Role == TFrameRole::frUnknown)
    Role = request || !reply ? TFrameRole::frRequest : TFrameRole::frReply;
  if (Role == TFrameRole::frRequest) {
    if (!request)
      return Addressee(Framing, Frame.Address) + FunctionName(pdu[0]) + " (length error)";
    return Addressee(Framing, Frame.Address) + RequestText(pdu);
  }
  if (!reply) return "reply " + FunctionName(pdu[0]) + " (length error)";
  return ReplyText(pdu);
}

std::string ChecksumText(TFrameFraming Framing) {
  switch (Framing) {
    case TFrameFraming::ffRtu:
      return "CRC error";
    case TFrameFraming::ffAscii:
      return "LRC error";
    case TFrameFraming::ffTcp:
      break;
  }
  return "checksum error";
}

}  // namespace

std::optional<TFramePdu> ExtractPdu(TFrameFraming Framing, std::span<const std::uint8_t> Bytes) {
  TFramePdu frame;
  switch (Framing) {
    case TFrameFraming::ffTcp:
      if (Bytes.size() <= TCP_HEADER_SIZE) return std::nullopt;
      frame.Address = Bytes[6];
      frame.Pdu.assign(Bytes.begin() + TCP_HEADER_SIZE, Bytes.end());
      return frame;
    case TFrameFraming::ffRtu:
      if (Bytes.size() < 2 + RTU_CHECK_SIZE) return std::nullopt;
      frame.Address = Bytes[0];
      frame.Pdu.assign(Bytes.begin() + 1, Bytes.end() - RTU_CHECK_SIZE);
      return frame;
    case TFrameFraming::ffAscii: {
      const auto content = AsciiContent(Bytes);
      if (!content || content->size() < 3) return std::nullopt;  // address, function, LRC
      frame.Address = (*content)[0];
      frame.Pdu.assign(content->begin() + 1, content->end() - 1);
      return frame;
    }
  }
  return std::nullopt;
}

namespace {

// Whether a PDU has the size its first bytes announce; a function that does
// not tell its size fits any.
bool HasItsSize(std::span<const std::uint8_t> Pdu, int Size) {
  if (Size == PduSizeUnpredictable) return true;
  return Size != PduSizeUnknownYet && Pdu.size() == static_cast<std::size_t>(Size);
}

}  // namespace

bool FitsRequest(std::span<const std::uint8_t> Pdu) {
  if (Pdu.empty() || (Pdu[0] & 0x80)) return false;
  return HasItsSize(Pdu, RequestPduSize(Pdu.data(), static_cast<int>(Pdu.size())));
}

bool FitsReply(std::span<const std::uint8_t> Pdu) {
  if (Pdu.empty()) return false;
  // Registers come in pairs of bytes.
  const bool registers = Pdu[0] == 3 || Pdu[0] == 4 || Pdu[0] == 23;
  if (registers && Pdu.size() >= 2 && Pdu[1] % 2 != 0) return false;
  return HasItsSize(Pdu, ReplyPduSize(Pdu.data(), static_cast<int>(Pdu.size())));
}

bool FitsItsFunction(std::span<const std::uint8_t> Pdu) {
  return FitsRequest(Pdu) || FitsReply(Pdu);
}

std::string SummarizeFrame(TFrameFraming Framing, TFrameOutcome Outcome,
                           std::span<const std::uint8_t> Bytes, TFrameRole Role) {
  switch (Outcome) {
    case TFrameOutcome::foTimeout:
      return Bytes.empty() ? "time-out" : "time-out after " + N(Bytes.size()) + " bytes";
    case TFrameOutcome::foChecksumError:
      return ChecksumText(Framing);
    case TFrameOutcome::foLengthError:
      return "length error (" + N(Bytes.size()) + (Bytes.size() == 1 ? " byte)" : " bytes)");
    case TFrameOutcome::foOk:
    case TFrameOutcome::foException:
    case TFrameOutcome::foUnmatched:
      break;
  }
  const auto frame = ExtractPdu(Framing, Bytes);
  if (!frame)
    return "malformed frame (" + N(Bytes.size()) + (Bytes.size() == 1 ? " byte)" : " bytes)");
  const std::string text = DescribePdu(Framing, *frame, Role);
  return Outcome == TFrameOutcome::foUnmatched ? "unmatched " + text : text;
}

std::string ExceptionName(std::uint8_t Code) {
  switch (Code) {
    case 1:
      return "illegal function";
    case 2:
      return "illegal data address";
    case 3:
      return "illegal data value";
    case 4:
      return "server device failure";
    case 5:
      return "acknowledge";
    case 6:
      return "server device busy";
    case 7:
      return "negative acknowledge";
    case 8:
      return "memory parity error";
    case 10:
      return "gateway path unavailable";
    case 11:
      return "gateway target device failed to respond";
    default:
      return "unknown exception";
  }
}
