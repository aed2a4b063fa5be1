#pragma once
// How long a Modbus PDU (function code and data) is, told by its first bytes:
// the function code, and for the functions of variable length the byte count
// that follows it. The sizes are those that the Modbus Application Protocol
// V1.1b3 (section 6) lays out for each function's request and reply; the
// framings add their own header and check (RTU: address and CRC, 3 bytes).

#include <cstdint>
#include <optional>

// What the first Count bytes of a PDU tell about its size.
inline constexpr int PduSizeUnknownYet = 0;      // more bytes are needed to tell
inline constexpr int PduSizeUnpredictable = -1;  // the function does not tell

// The size of the request PDU these bytes begin, PduSizeUnknownYet or
// PduSizeUnpredictable (an unknown function; diagnostics 0, which echoes any
// data).
int RequestPduSize(const std::uint8_t* Pdu, int Count);

// The size of the reply PDU these bytes begin, PduSizeUnknownYet or
// PduSizeUnpredictable. An exception reply is 2 bytes. A diagnostics 0 reply
// echoes its request, whose function code and size are QueryFunction and
// QuerySize (0 when no request was seen).
int ReplyPduSize(const std::uint8_t* Pdu, int Count, std::uint8_t QueryFunction = 0,
                 int QuerySize = 0);

// The byte count a read reply carries for Count values (functions 1 to 4);
// none for the other functions.
std::optional<int> ReadReplyByteCount(std::uint8_t Function, std::uint16_t Count);
