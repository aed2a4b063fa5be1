// The two serial framings as tables of sizes and operations, one chosen per value, so
// that nothing above this file asks which mode is in use.
#include "ModbusFraming.h"

#include <algorithm>
#include <cstring>

#include "ErrorChecks.h"
#include "ModLinkConsts.h"
#include "ModLinkError.h"

using namespace ModLinkMessages;

struct TFramingBackend {
  TTransmissionMode Mode;
  TFrameFraming LineFraming;
  int ErrorCheckSize;
  int MinimumQuerySize;
  int MinimumReplySize;
  int MaximumFrameSize;
  bool EndsAtSilence;
  std::uint32_t MinimumCharacterGap;  // ms; the silent interval applies when longer
  int (*RawSize)(int BinarySize);
  void (*EmitErrorCheck)(TModbusBuffer& Buffer);
  bool (*ChecksEqual)(TModbusBuffer& Buffer);  // the cursor is on the error check
  // Writes RawSize(Size) bytes.
  void (*Encode)(const std::uint8_t* Binary, int Size, std::uint8_t* Dest);
  // Called with at least the minimum raw size; fills Buffer and reports its shape.
  TDecodeResult (*Decode)(const std::uint8_t* Raw, int RawSize, TModbusBuffer& Buffer);
  // Scans New bytes read after the collected ones. The side tells whether a query or a
  // reply is expected, for a framing that would tell a frame's end from its function code.
  void (*Scan)(TFrameScan& Scan, std::uint8_t* Area, int New, TConnectionMode Role);
};

namespace {

// ---- RTU: the binary frame itself, ended by the line's silence -------------------------

int RtuRawSize(int BinarySize) {
  return BinarySize;
}

void RtuEmitErrorCheck(TModbusBuffer& Buffer) {
  Buffer.PutWordLoHi(Buffer.CRC16());
}

bool RtuChecksEqual(TModbusBuffer& Buffer) {
  return Buffer.CRC16() == Buffer.GetWordLoHi();
}

void RtuEncode(const std::uint8_t* Binary, int Size, std::uint8_t* Dest) {
  std::memcpy(Dest, Binary, static_cast<std::size_t>(Size));
}

TDecodeResult RtuDecode(const std::uint8_t* Raw, int RawSize, TModbusBuffer& Buffer) {
  if (RawSize > Buffer.Capacity()) ModLinkError(SFailedDecodeFrame);
  Buffer.Seek(smBufStart);
  Buffer.PutBlock(Raw, RawSize);
  return TDecodeResult::drOk;
}

void RtuScan(TFrameScan& Scan, std::uint8_t*, int New, TConnectionMode) {
  Scan.Collected += New;
  Scan.Started = Scan.Collected > 0;
}

// ---- ASCII: ":" hexadecimal pairs CR LF ---------------------------------------------------

constexpr char HexDigits[] = "0123456789ABCDEF";

int AsciiRawSize(int BinarySize) {
  return 2 * BinarySize + 3;
}

void AsciiEmitErrorCheck(TModbusBuffer& Buffer) {
  Buffer.PutByte(Buffer.LRC8());
}

bool AsciiChecksEqual(TModbusBuffer& Buffer) {
  return Buffer.LRC8() == Buffer.GetByte();
}

void AsciiEncode(const std::uint8_t* Binary, int Size, std::uint8_t* Dest) {
  *Dest++ = Colon;
  for (int i = 0; i < Size; ++i) {
    *Dest++ = static_cast<std::uint8_t>(HexDigits[Binary[i] >> 4]);
    *Dest++ = static_cast<std::uint8_t>(HexDigits[Binary[i] & 0x0F]);
  }
  *Dest++ = CarriageReturn;
  *Dest = LineFeed;
}

// The value of one hexadecimal digit as the line decoder reads it: no validation, so a
// lower-case letter is only right as the high digit of a pair, where its extra bit 5 is
// shifted out.
std::uint8_t DigitValue(std::uint8_t Code) {
  return static_cast<std::uint8_t>(Code >= 0x41 ? Code - 55 : Code - 48);
}

TDecodeResult AsciiDecode(const std::uint8_t* Raw, int RawSize, TModbusBuffer& Buffer) {
  if (RawSize % 2 == 0 || Raw[0] != Colon || Raw[RawSize - 2] != CarriageReturn ||
      Raw[RawSize - 1] != LineFeed)
    return TDecodeResult::drMalformed;
  const int Size = (RawSize - 3) / 2;
  if (Size > Buffer.Capacity()) ModLinkError(SFailedDecodeFrame);
  std::uint8_t* Out = Buffer.StartPtr();
  const std::uint8_t* In = Raw + 1;
  for (int i = 0; i < Size; ++i, In += 2)
    Out[i] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(DigitValue(In[0]) << 4) |
                                       DigitValue(In[1]));
  Buffer.SetSize(Size);
  return TDecodeResult::drOk;
}

enum TReceiveFrameStage { rfsIdle, rfsCollecting, rfsCompleting, rfsCompleted };

// A frame runs from the last colon seen to CR LF. Only the new bytes are scanned; a
// colon among them restarts the frame there, and the frame is moved to the start of the
// area. Bytes before a colon are noise and are not kept; a character other than LF
// after CR drops the frame. What follows LF is left for the next frame. A monitor's
// scan hands the noise and the frames it drops to Scan.Noise.
void AsciiScan(TFrameScan& Scan, std::uint8_t* Area, int New, TConnectionMode) {
  std::uint8_t* Chunk = Area + Scan.Collected;
  TLineNoise* const Noise = Scan.Noise;
  int Start = -1;
  int Count = 0;
  bool GivenUp = false;
  // The frame in progress is dropped before Chunk[End]: from its colon (in this chunk,
  // or at the start of the area when an earlier chunk began it) it is noise.
  const auto GiveUp = [&](int End) {
    if (!Noise) return;
    const std::uint8_t* From = Start >= 0 ? Chunk + Start : Area;
    Noise->Add(From, static_cast<int>(Chunk + End - From));
    GivenUp = true;
  };
  int i = 0;
  for (; i < New && Scan.Stage != rfsCompleted; ++i) {
    const std::uint8_t c = Chunk[i];
    if (c == Colon) {
      if (Scan.Stage != rfsIdle) GiveUp(i);
      Scan.Stage = rfsCollecting;
      Start = i;
      Count = 1;
    } else if (Scan.Stage == rfsCollecting) {
      ++Count;
      if (c == CarriageReturn) Scan.Stage = rfsCompleting;
    } else if (Scan.Stage == rfsCompleting) {
      if (c == LineFeed) {
        ++Count;
        Scan.Stage = rfsCompleted;
      } else {
        GiveUp(i + 1);
        Scan.Stage = rfsIdle;
        Start = -1;
        Count = 0;
      }
    } else if (Noise) {
      Noise->Add(&c, 1);  // outside any frame
    }
  }
  // The rest lies beyond the frame's new place, so moving the frame leaves it intact.
  Scan.RestAt = static_cast<int>(Chunk - Area) + i;
  Scan.Rest = New - i;
  if (Start >= 0) {
    std::memmove(Area, Chunk + Start, static_cast<std::size_t>(Count));
    Scan.Collected = Count;
  } else if (GivenUp) {
    Scan.Collected = 0;  // reported as noise, not kept as a frame
  } else {
    Scan.Collected += Count;
  }
  Scan.Started = Scan.Stage != rfsIdle;
  Scan.Complete = Scan.Stage == rfsCompleted;
}

constexpr TFramingBackend RtuBackend = {
    .Mode = tmRTU,
    .LineFraming = TFrameFraming::ffRtu,
    .ErrorCheckSize = 2,
    .MinimumQuerySize = MinQueryADUSizeRTU,
    .MinimumReplySize = MinReplyADUSizeRTU,
    .MaximumFrameSize = MaxFrameADUSizeRTU,
    .EndsAtSilence = true,
    .MinimumCharacterGap = 0,
    .RawSize = RtuRawSize,
    .EmitErrorCheck = RtuEmitErrorCheck,
    .ChecksEqual = RtuChecksEqual,
    .Encode = RtuEncode,
    .Decode = RtuDecode,
    .Scan = RtuScan,
};

constexpr TFramingBackend AsciiBackend = {
    .Mode = tmASCII,
    .LineFraming = TFrameFraming::ffAscii,
    .ErrorCheckSize = 1,
    .MinimumQuerySize = MinQueryADUSizeASCII,
    .MinimumReplySize = MinReplyADUSizeASCII,
    .MaximumFrameSize = MaxFrameADUSizeASCII,
    .EndsAtSilence = false,
    .MinimumCharacterGap = 1000,  // Modbus over Serial Line V1.02, 2.5.2.1: up to 1 s
    .RawSize = AsciiRawSize,
    .EmitErrorCheck = AsciiEmitErrorCheck,
    .ChecksEqual = AsciiChecksEqual,
    .Encode = AsciiEncode,
    .Decode = AsciiDecode,
    .Scan = AsciiScan,
};

const TFramingBackend& BackendOf(TTransmissionMode Mode) {
  switch (Mode) {
    case tmRTU:
      return RtuBackend;
    case tmASCII:
      return AsciiBackend;
  }
  InternalError();
}

// The size of the sound RTU frame at the start of Bytes: the shorter of the sizes its
// function code announces for a query and for a reply at which the CRC is right; 0 when
// neither is, or the first bytes do not tell.
int SoundRtuFrameSize(const std::uint8_t* Bytes, int Count, const TQueryShape& LastQuery) {
  const auto Fits = [&](int Size) {
    return Size > 0 && Size <= Count &&
           CRC16(Bytes, static_cast<std::size_t>(Size - 2)) ==
               (Bytes[Size - 2] | Bytes[Size - 1] << 8);
  };
  const int AsQuery = PredictQuerySize(Bytes, Count);
  const int AsReply = PredictReplySize(Bytes, Count, LastQuery);
  int Size = 0;
  if (Fits(AsReply)) Size = AsReply;
  if (Fits(AsQuery) && (Size == 0 || AsQuery < Size)) Size = AsQuery;
  return Size;
}

}  // namespace

void TLineNoise::Add(const std::uint8_t* Bytes, int Size) {
  if (Size <= 0) return;
  const std::size_t Kept =
      std::min(static_cast<std::size_t>(Size), Shown - std::min(Shown, Start.size()));
  Start.insert(Start.end(), Bytes, Bytes + Kept);
  Count += static_cast<std::uint64_t>(Size);
}

TFrameOutcome OutcomeOf(TDecodeResult Decoded) {
  switch (Decoded) {
    case TDecodeResult::drOk:
      return TFrameOutcome::foOk;
    case TDecodeResult::drBadCheck:
      return TFrameOutcome::foChecksumError;
    case TDecodeResult::drMalformed:
      break;
  }
  return TFrameOutcome::foLengthError;
}

TModbusFraming::TModbusFraming(TTransmissionMode Mode, TConnectionMode Role, bool EndByLength)
    : FBackend(&BackendOf(Mode)),
      FRole(Role),
      FEndByLength(EndByLength && FBackend->EndsAtSilence) {
  if (!IsValid(Role)) InternalError();
}

TTransmissionMode TModbusFraming::Mode() const {
  return FBackend->Mode;
}
TFrameFraming TModbusFraming::LineFraming() const {
  return FBackend->LineFraming;
}
int TModbusFraming::ErrorCheckSize() const {
  return FBackend->ErrorCheckSize;
}
int TModbusFraming::MinimumQuerySize() const {
  return FBackend->MinimumQuerySize;
}
int TModbusFraming::MinimumReplySize() const {
  return FBackend->MinimumReplySize;
}
int TModbusFraming::MaximumFrameSize() const {
  return FBackend->MaximumFrameSize;
}
int TModbusFraming::InterimBufferSize() const {
  return FBackend->RawSize(MaximumFrameSize());
}
bool TModbusFraming::EndsAtSilence() const {
  return FBackend->EndsAtSilence;
}

int TModbusFraming::MinimumRawFrameSize() const {
  int Binary = 0;
  switch (FRole) {
    case cmClient:
      Binary = MinimumReplySize();
      break;
    case cmServer:
      Binary = MinimumQuerySize();
      break;
    case cmMonitor:
      Binary = std::min(MinimumReplySize(), MinimumQuerySize());
      break;
  }
  return FBackend->RawSize(Binary);
}

std::uint32_t TModbusFraming::CharacterGap(std::uint32_t Silence) const {
  return std::max(Silence, FBackend->MinimumCharacterGap);
}

void TModbusFraming::EmitErrorCheck(TModbusBuffer& Buffer) const {
  FBackend->EmitErrorCheck(Buffer);
}

bool TModbusFraming::ErrorChecksEqual(TModbusBuffer& Buffer) const {
  const int CheckSize = ErrorCheckSize();
  if (Buffer.Size() < CheckSize) return false;
  Buffer.SetPosition(Buffer.Size() - CheckSize);
  return FBackend->ChecksEqual(Buffer);
}

int TModbusFraming::Encode(const TModbusBuffer& Buffer, std::uint8_t* DestPtr,
                           int DestCapacity) const {
  const int Size = Buffer.Size();
  if (Size <= 0) return Size;
  const int RawSize = FBackend->RawSize(Size);
  if (RawSize > DestCapacity) ModLinkError(SFailedEncodeFrame);
  FBackend->Encode(Buffer.StartPtr(), Size, DestPtr);
  return RawSize;
}

TDecodeResult TModbusFraming::Decode(const std::uint8_t* SourcePtr, TModbusBuffer& Buffer,
                                     int SourceSize) const {
  Buffer.SetSize(0);
  if (SourceSize < MinimumRawFrameSize()) return TDecodeResult::drMalformed;
  const TDecodeResult Shape = FBackend->Decode(SourcePtr, SourceSize, Buffer);
  if (Shape != TDecodeResult::drOk) return Shape;
  return ErrorChecksEqual(Buffer) ? TDecodeResult::drOk : TDecodeResult::drBadCheck;
}

void TModbusFraming::Scan(TFrameScan& Scan, std::uint8_t* Area, int New) const {
  FBackend->Scan(Scan, Area, New, FRole);
  if (FEndByLength && !Scan.Complete) EndAtPredictedLength(Scan, Area);
}

// Every side sees both kinds of frame: a master its own echo, a slave the replies of the
// other slaves on a shared bus, a monitor the query and then its reply. So the frame is
// measured as a query and as a reply, and it ends at the shorter size whose CRC is right.
// A size whose CRC is wrong is passed over; when none is left, the silence ends the frame.
void TModbusFraming::EndAtPredictedLength(TFrameScan& Scan, const std::uint8_t* Area) const {
  const int Collected = Scan.Collected;
  const int Size = SoundRtuFrameSize(Area, Collected, Scan.LastQuery);
  if (Size == 0) return;
  Scan.IsQuery = Size == PredictQuerySize(Area, Collected);
  Scan.Complete = true;
  Scan.Collected = Size;
  Scan.RestAt = Size;
  Scan.Rest = Collected - Size;
}

int TModbusFraming::RunCut(const std::uint8_t* Area, int Size, const TQueryShape& LastQuery) const {
  if (const int First = SoundRtuFrameSize(Area, Size, LastQuery)) return First;
  for (int At = 1; At < Size; ++At)
    if (SoundRtuFrameSize(Area + At, Size - At, LastQuery) > 0) return At;
  return Size;
}

bool TModbusFraming::IsEcho(const std::uint8_t* Sent, int SentCount, const std::uint8_t* Received,
                            int ReceivedCount) {
  if (SentCount < 0 || ReceivedCount < SentCount) return false;
  return SentCount == 0 || std::memcmp(Sent, Received, static_cast<std::size_t>(SentCount)) == 0;
}

std::uint8_t TModbusFraming::AcquireServerAddress(TModbusBuffer& Buffer) const {
  Buffer.Seek(smBufStart);
  return Buffer.GetByte();
}

std::uint8_t TModbusFraming::AcquireModbusCommand(TModbusBuffer& Buffer) const {
  Buffer.SetPosition(HeaderSize());
  return Buffer.GetByte();
}

void TModbusFraming::AcquireServerException(TModbusBuffer& Buffer, TServerException& Exception,
                                            std::uint8_t& ExceptionCode) const {
  Buffer.SetPosition(HeaderSize() + 1);
  ExceptionCode = Buffer.GetByte();
  Exception = ExceptionCode >= seIllegalCommand && ExceptionCode <= seMemoryParityError
                  ? static_cast<TServerException>(ExceptionCode)
                  : seUnknown;
}

bool TModbusFraming::HeadersMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const {
  return AcquireServerAddress(QueryBuffer) == AcquireServerAddress(ReplyBuffer);
}

bool TModbusFraming::CommandsMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const {
  const std::uint8_t Command1 = AcquireModbusCommand(QueryBuffer);
  const std::uint8_t Command2 = AcquireModbusCommand(ReplyBuffer);
  return Command1 == (Command2 & 0x7F);
}

bool TModbusFraming::IsExpectedReply(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer,
                                     bool Promiscuous) const {
  return Promiscuous || HeadersMatch(QueryBuffer, ReplyBuffer);
}

bool TModbusFraming::IsExceptionReply(TModbusBuffer& ReplyBuffer) const {
  return ReplyBuffer.Size() == MinimumReplySize() &&
         AcquireModbusCommand(ReplyBuffer) > ExceptionReplyFlag;
}
