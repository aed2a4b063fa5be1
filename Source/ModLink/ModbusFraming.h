// RTU and ASCII framing as one value with no I/O: frame sizes, the error check,
// encoding a binary frame into the bytes of the line and decoding them back, where a
// frame starts and ends among the bytes received, and the tests that match a reply to
// its query. The value is chosen once, from the transmission mode and the side of the
// line (client, server or monitor), and the connection and its worker only ask it;
// they never branch on the mode themselves.
//
// An RTU frame ends when the line falls silent. With the frame end by predicted length
// (opt-in), it ends as soon as the bytes its function code announces have arrived and
// their CRC is right there; the silence stays the rule for functions whose length the
// first bytes do not tell, and for frames cut short. An ASCII frame always ends at CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FrameHook.h"
#include "FramePrediction.h"
#include "ModLinkTypes.h"
#include "ModbusBuffer.h"
#include "ModbusTransaction.h"

struct TFramingBackend;

// Why raw bytes did not decode into a frame.
enum class TDecodeResult : std::uint8_t {
  drOk,
  drMalformed,  // too short, too long, or not shaped like a frame of the mode
  drBadCheck,   // well shaped, but the CRC or the LRC does not match
};

// The frame hook's outcome of bytes that decoded with this result.
TFrameOutcome OutcomeOf(TDecodeResult Decoded);

// What a monitor's scan passes over because it belongs to no frame (ASCII: bytes outside
// ':' ... CR LF, a frame given up for a new colon or for a CR without LF): counted, and
// its first bytes kept to be shown. The worker reports it as one invalid frame per run.
struct TLineNoise {
  static constexpr std::size_t Shown = 64;  // bytes kept of a run
  std::uint64_t Count = 0;
  std::vector<std::uint8_t> Start;

  void Add(const std::uint8_t* Bytes, int Size);
  bool Empty() const { return Count == 0; }
  void Clear() {
    Count = 0;
    Start.clear();
  }
};

// Where one receive stands in the bytes collected so far. The caller reads new bytes
// into the area right after the Collected ones and lets the framing scan them; the
// scan keeps the frame at the start of the area.
struct TFrameScan {
  int Collected = 0;      // bytes of the frame, from the start of the area
  bool Started = false;   // the frame has begun (RTU: any byte; ASCII: a colon)
  bool Complete = false;  // its content says it has ended (ASCII: CR LF)
  int Stage = 0;          // the mode's own progress through a frame
  // Once Complete: the bytes that followed the frame's end in the same read, at offset
  // RestAt of the area. They begin the next frame (an echo followed by the reply, or
  // another slave's frame followed by ours) and must not be lost.
  int RestAt = 0;
  int Rest = 0;
  // Frame end by predicted length: the last query seen on the line, set by the caller
  // before the first scan (a diagnostics reply echoes its query, whatever its length) ...
  TQueryShape LastQuery;
  // ... and, once Complete, whether the frame was taken as a query.
  bool IsQuery = false;
  // A monitor's noise, when it wants it reported (the scan adds what it passes over).
  TLineNoise* Noise = nullptr;
};

class TModbusFraming {
 public:
  // Raises "Internal error" for a mode or a side outside the enumerations.
  TModbusFraming(TTransmissionMode Mode, TConnectionMode Role, bool EndByLength = false);

  TTransmissionMode Mode() const;
  TConnectionMode Role() const { return FRole; }
  // How the bytes of a frame record are framed on the line.
  TFrameFraming LineFraming() const;

  // ---- Sizes (binary bytes unless said otherwise) -------------------------------
  int HeaderSize() const { return 1; }  // the address; the function code follows it
  int ErrorCheckSize() const;
  int MinimumQuerySize() const;
  int MinimumReplySize() const;  // also the exact size of an exception reply
  int MaximumFrameSize() const;  // the capacity of every transaction buffer
  // Raw bytes of the largest frame: the worker's send and receive areas.
  int InterimBufferSize() const;
  // The smallest raw frame Decode accepts on this side of the line.
  int MinimumRawFrameSize() const;

  // ---- Error check, encoding and decoding ---------------------------------------
  // Appends the error check of the bytes before the cursor.
  void EmitErrorCheck(TModbusBuffer& Buffer) const;
  bool ErrorChecksEqual(TModbusBuffer& Buffer) const;
  // Binary frame to raw line bytes; the raw size (the buffer's size when that is not
  // above 0). Raises "Failed to encode frame" when they would not fit in DestCapacity.
  int Encode(const TModbusBuffer& Buffer, std::uint8_t* DestPtr, int DestCapacity) const;
  // Raw line bytes to a binary frame at the start of Buffer. Raises "Failed to decode
  // frame" when a well-shaped frame is larger than the buffer.
  TDecodeResult Decode(const std::uint8_t* SourcePtr, TModbusBuffer& Buffer, int SourceSize) const;

  // ---- Receiving ------------------------------------------------------------------
  // Scans New bytes read into Area right after the Scan.Collected ones.
  void Scan(TFrameScan& Scan, std::uint8_t* Area, int New) const;
  // True when a frame ends only with the line's silence (RTU), so that bytes beyond a
  // full receive area belong to the same frame and are dropped with it.
  bool EndsAtSilence() const;
  // A monitor drops no byte: a run of frames longer than the receive area (Size bytes,
  // the line still busy) is cut where its first frame ends, or where the first frame
  // after line noise begins, and the bytes after the cut begin the next frame. RTU only.
  int RunCut(const std::uint8_t* Area, int Size, const TQueryShape& LastQuery) const;
  // True when a frame may end by its predicted length before the line falls silent, so
  // that bytes after it on the line are the next frame.
  bool EndsByLength() const { return FEndByLength; }
  // The longest pause between two characters of one frame, given the connection's
  // silent interval in milliseconds: the silence itself in RTU, where it ends the frame;
  // in ASCII, where CR LF ends it, the 1 s the Modbus serial line allows.
  std::uint32_t CharacterGap(std::uint32_t Silence) const;

  // ---- Matching a reply to its query ----------------------------------------------
  // The received bytes begin with all the sent ones.
  static bool IsEcho(const std::uint8_t* Sent, int SentCount, const std::uint8_t* Received,
                     int ReceivedCount);
  bool HeadersMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const;
  bool CommandsMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const;
  bool IsExpectedReply(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer,
                       bool Promiscuous) const;
  bool IsExceptionReply(TModbusBuffer& ReplyBuffer) const;
  std::uint8_t AcquireServerAddress(TModbusBuffer& Buffer) const;
  std::uint8_t AcquireModbusCommand(TModbusBuffer& Buffer) const;
  void AcquireServerException(TModbusBuffer& Buffer, TServerException& Exception,
                              std::uint8_t& ExceptionCode) const;

 private:
  void EndAtPredictedLength(TFrameScan& Scan, const std::uint8_t* Area) const;

  const TFramingBackend* FBackend;
  TConnectionMode FRole;
  bool FEndByLength;
};
