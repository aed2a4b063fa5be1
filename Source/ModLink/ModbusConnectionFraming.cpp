// The connection's framing operations: the documented names, each handing over to the
// framing value of the connection's transmission and connection modes.
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "ModbusServer.h"

int TModbusConnection::DetermineHeaderSize() const {
  return FFraming.HeaderSize();
}
int TModbusConnection::DetermineErrorCheckSize() const {
  return FFraming.ErrorCheckSize();
}
int TModbusConnection::DetermineMinimumQuerySize() const {
  return FFraming.MinimumQuerySize();
}
int TModbusConnection::DetermineMinimumReplySize() const {
  return FFraming.MinimumReplySize();
}
int TModbusConnection::DetermineMaximumFrameSize() const {
  return FFraming.MaximumFrameSize();
}
int TModbusConnection::DetermineInterimBufferSize() const {
  return FFraming.InterimBufferSize();
}
int TModbusConnection::DetermineMinimumRawFrameSize() const {
  return FFraming.MinimumRawFrameSize();
}

void TModbusConnection::EmitHeader(const TModbusClient* Client, TModbusBuffer& Buffer) const {
  Buffer.PutByte(Client ? Client->ServerAddress() : BroadcastAddress);
}

void TModbusConnection::EmitHeader(const TModbusServer& Server, TModbusBuffer& Buffer) const {
  Buffer.PutByte(Server.Address());
}

void TModbusConnection::EmitErrorCheck(TModbusBuffer& Buffer) const {
  FFraming.EmitErrorCheck(Buffer);
}

bool TModbusConnection::ErrorChecksEqual(TModbusBuffer& Buffer) const {
  return FFraming.ErrorChecksEqual(Buffer);
}

int TModbusConnection::EncodeFrame(const TModbusBuffer& Buffer, std::uint8_t* DestPtr,
                                   int DestCapacity) const {
  return FFraming.Encode(Buffer, DestPtr, DestCapacity);
}

bool TModbusConnection::DecodeFrame(const std::uint8_t* SourcePtr, TModbusBuffer& Buffer,
                                    int SourceSize) const {
  return FFraming.Decode(SourcePtr, Buffer, SourceSize) == TDecodeResult::drOk;
}

bool TModbusConnection::IsEcho(const std::uint8_t* Sent, int SentCount,
                               const std::uint8_t* Received, int ReceivedCount) {
  return TModbusFraming::IsEcho(Sent, SentCount, Received, ReceivedCount);
}

std::uint8_t TModbusConnection::AcquireServerAddress(TModbusBuffer& Buffer) const {
  return FFraming.AcquireServerAddress(Buffer);
}

std::uint8_t TModbusConnection::AcquireModbusCommand(TModbusBuffer& Buffer) const {
  return FFraming.AcquireModbusCommand(Buffer);
}

void TModbusConnection::AcquireServerException(TModbusBuffer& Buffer, TServerException& Exception,
                                               std::uint8_t& ExceptionCode) const {
  FFraming.AcquireServerException(Buffer, Exception, ExceptionCode);
}

bool TModbusConnection::HeadersMatch(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer) const {
  return FFraming.HeadersMatch(QueryBuffer, ReplyBuffer);
}

bool TModbusConnection::CommandsMatch(TModbusBuffer& QueryBuffer,
                                      TModbusBuffer& ReplyBuffer) const {
  return FFraming.CommandsMatch(QueryBuffer, ReplyBuffer);
}

bool TModbusConnection::IsExpectedReply(TModbusBuffer& QueryBuffer, TModbusBuffer& ReplyBuffer,
                                        bool Promiscuous) const {
  return FFraming.IsExpectedReply(QueryBuffer, ReplyBuffer, Promiscuous);
}

bool TModbusConnection::IsExceptionReply(TModbusBuffer& ReplyBuffer) const {
  return FFraming.IsExceptionReply(ReplyBuffer);
}
