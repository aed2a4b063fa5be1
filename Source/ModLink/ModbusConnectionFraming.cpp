// RTU and ASCII framing: frame sizes, header and error check, encoding to and
// decoding from the raw bytes of the line, and the reply matching tests. All of it
// works on buffers only, without touching the device.
#include <algorithm>
#include <cstring>

#include "ModLinkError.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "ModbusServer.h"

using namespace ModLinkMessages;

namespace {
constexpr char HexDigits[] = "0123456789ABCDEF";

// The value of one hexadecimal digit as the line decoder reads it: no validation,
// so a lower-case letter is only right as the high digit of a pair, where its
// extra bit 5 is shifted out.
std::uint8_t DigitValue(std::uint8_t Code) {
  return static_cast<std::uint8_t>(Code >= 0x41 ? Code - 55 : Code - 48);
}

int AsciiRawSize(int BinarySize) { return 2 * BinarySize + 3; }
}  // namespace

int TModbusConnection::DetermineHeaderSize() const { return 1; }

int TModbusConnection::DetermineErrorCheckSize() const {
  switch (FTransmissionMode) {
    case tmRTU: return 2;
    case tmASCII: return 1;
  }
  InternalError();
}

int TModbusConnection::DetermineMinimumQuerySize() const {
  return FTransmissionMode == tmASCII ? MinQueryADUSizeASCII : MinQueryADUSizeRTU;
}

int TModbusConnection::DetermineMinimumReplySize() const {
  return FTransmissionMode == tmASCII ? MinReplyADUSizeASCII : MinReplyADUSizeRTU;
}

int TModbusConnection::DetermineMaximumFrameSize() const {
  return FTransmissionMode == tmASCII ? MaxFrameADUSizeASCII : MaxFrameADUSizeRTU;
}

int TModbusConnection::DetermineInterimBufferSize() const {
  return FTransmissionMode == tmASCII ? AsciiRawSize(MaxFrameADUSizeASCII) : MaxFrameADUSizeRTU;
}

int TModbusConnection::DetermineMinimumRawFrameSize() const {
  int Binary = 0;
  switch (FConnectionMode) {
    case cmClient: Binary = DetermineMinimumReplySize(); break;
    case cmServer: Binary = DetermineMinimumQuerySize(); break;
    case cmMonitor: Binary = std::min(DetermineMinimumReplySize(), DetermineMinimumQuerySize()); break;
    default: InternalError();
  }
  return FTransmissionMode == tmASCII ? AsciiRawSize(Binary) : Binary;
}

void TModbusConnection::EmitHeader(const TModbusClient* Client, TModbusBuffer& Buffer) const {
  Buffer.PutByte(Client ? Client->ServerAddress() : BroadcastAddress);
}

void TModbusConnection::EmitHeader(const TModbusServer& Server, TModbusBuffer& Buffer) const {
  Buffer.PutByte(Server.Address());
}

void TModbusConnection::EmitErrorCheck(TModbusBuffer& Buffer) const {
  switch (FTransmissionMode) {
    case tmRTU: Buffer.PutWordLoHi(Buffer.CRC16()); return;
    case tmASCII: Buffer.PutByte(Buffer.LRC8()); return;
  }
  InternalError();
}

bool TModbusConnection::ErrorChecksEqual(TModbusBuffer& Buffer) const {
  const int CheckSize = DetermineErrorCheckSize();
  if (Buffer.Size() < CheckSize) return false;
  Buffer.SetPosition(Buffer.Size() - CheckSize);
  if (FTransmissionMode == tmRTU) return Buffer.CRC16() == Buffer.GetWordLoHi();
  return Buffer.LRC8() == Buffer.GetByte();
}

int TModbusConnection::EncodeFrame(const TModbusBuffer& Buffer, std::uint8_t* DestPtr, int DestCapacity) const {
  const int Size = Buffer.Size();
  if (Size <= 0) return Size;
  const std::uint8_t* Source = Buffer.StartPtr();
  switch (FTransmissionMode) {
    case tmRTU:
      if (Size > DestCapacity) ModLinkError(SFailedEncodeFrame);
      std::memcpy(DestPtr, Source, static_cast<std::size_t>(Size));
      return Size;
    case tmASCII: {
      const int RawSize = AsciiRawSize(Size);
      if (RawSize > DestCapacity) ModLinkError(SFailedEncodeFrame);
      std::uint8_t* Out = DestPtr;
      *Out++ = Colon;
      for (int i = 0; i < Size; ++i) {
        *Out++ = static_cast<std::uint8_t>(HexDigits[Source[i] >> 4]);
        *Out++ = static_cast<std::uint8_t>(HexDigits[Source[i] & 0x0F]);
      }
      *Out++ = CarriageReturn;
      *Out = LineFeed;
      return RawSize;
    }
  }
  InternalError();
}

bool TModbusConnection::DecodeFrame(const std::uint8_t* SourcePtr, TModbusBuffer& Buffer, int SourceSize) const {
  Buffer.SetSize(0);
  if (SourceSize < DetermineMinimumRawFrameSize()) return false;
  switch (FTransmissionMode) {
    case tmRTU:
      if (SourceSize > Buffer.Capacity()) ModLinkError(SFailedDecodeFrame);
      Buffer.Seek(smBufStart);
      Buffer.PutBlock(SourcePtr, SourceSize);
      return ErrorChecksEqual(Buffer);
    case tmASCII: {
      if (SourceSize % 2 == 0 || SourcePtr[0] != Colon || SourcePtr[SourceSize - 2] != CarriageReturn ||
          SourcePtr[SourceSize - 1] != LineFeed)
        return false;
      const int Size = (SourceSize - 3) / 2;
      if (Size > Buffer.Capacity()) ModLinkError(SFailedDecodeFrame);
      std::uint8_t* Out = Buffer.StartPtr();
      const std::uint8_t* In = SourcePtr + 1;
      for (int i = 0; i < Size; ++i, In += 2)
        Out[i] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(DigitValue(In[0]) << 4) | DigitValue(In[1]));
      Buffer.SetSize(Size);
      return ErrorChecksEqual(Buffer);
    }
  }
  return false;
}

bool TModbusConnection::IsEcho(const std::uint8_t* Sent, int SentCount, const std::uint8_t* Received,
                               int ReceivedCount) {
  if (SentCount < 0 || ReceivedCount < SentCount) return false;
  return SentCount == 0 || std::memcmp(Sent, Received, static_cast<std::size_t>(SentCount)) == 0;
}

std::uint8_t TModbusConnection::AcquireServerAddress(TModbusBuffer& Buffer) const {
  Buffer.Seek(smBufStart);
  return Buffer.GetByte();
}

std::uint8_t TModbusConnection::AcquireModbusCommand(TModbusBuffer& Buffer) const {
  Buffer.SetPosition(DetermineHeaderSize());
  return Buffer.GetByte();
}

void TModbusConnection::AcquireServerException(TModbusBuffer& Buffer, TServerException& Exception,
                                               std::uint8_t& ExceptionCode) const {
  Buffer.SetPosition(DetermineHeaderSize() + 1);
  ExceptionCode = Buffer.GetByte();
  Exception = ExceptionCode >= seIllegalCommand && ExceptionCode <= seMemoryParityError
                  ? static_cast<TServerException>(ExceptionCode)
                  : seUnknown;
}

bool TModbusConnection::HeadersMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const {
  return AcquireServerAddress(QueryBuffer) == AcquireServerAddress(ReplyBuffer);
}

bool TModbusConnection::CommandsMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const {
  const std::uint8_t Command1 = AcquireModbusCommand(QueryBuffer);
  const std::uint8_t Command2 = AcquireModbusCommand(ReplyBuffer);
  return Command1 == (Command2 & 0x7F);
}

bool TModbusConnection::IsExpectedReply(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer,
                                        bool Promiscuous) const {
  return Promiscuous || HeadersMatch(QueryBuffer, ReplyBuffer);
}

bool TModbusConnection::IsExceptionReply(TModbusBuffer& ReplyBuffer) const {
  return ReplyBuffer.Size() == DetermineMinimumReplySize() && AcquireModbusCommand(ReplyBuffer) > ExceptionReplyFlag;
}
