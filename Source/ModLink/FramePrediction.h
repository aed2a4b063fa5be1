// How long an RTU frame is, told by its first bytes: the function code, and for frames of
// variable length the byte count that follows it. A frame whose length is known ends as soon
// as that many bytes have arrived, instead of when the line falls silent.
//
// The sizes are those of the binary frame, address and CRC included, as the Modbus
// Application Protocol V1.1b3 (section 6) lays out each function's query and reply.
#pragma once

#include <cstdint>

// The query a reply answers: its function code and size. A diagnostics reply echoes its
// query, so only the query tells the reply's length.
struct TQueryShape {
  std::uint8_t Command = 0;  // 0: no query seen yet
  int Size = 0;
};

// What the first Count bytes of a frame tell about its size.
inline constexpr int UnknownYet = 0;      // more bytes are needed to tell
inline constexpr int Unpredictable = -1;  // the function does not tell (the silence decides)

// The size of the query these bytes begin, UnknownYet or Unpredictable.
int PredictQuerySize(const std::uint8_t* Frame, int Count);
// The size of the reply these bytes begin, UnknownYet or Unpredictable. An exception reply
// is always 5 bytes.
int PredictReplySize(const std::uint8_t* Frame, int Count, const TQueryShape& Query);
