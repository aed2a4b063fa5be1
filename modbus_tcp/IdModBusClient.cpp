#include "IdModBusClient.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>

#include "ModbusUtils.h"
#include "PduSize.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bytes in front of the data of every frame: header and function code.
constexpr std::size_t FrameDataOffset = offsetof(TModBusResponseBuffer, MBPData);

void PutBigEndian(TModBusDataBuffer& Data, std::size_t Offset, uint16_t Value) {
  Data[Offset] = static_cast<uint8_t>(Value >> 8);
  Data[Offset + 1] = static_cast<uint8_t>(Value & 0xFF);
}

// Stores Value into a header field so that its high byte goes first on the wire.
void StoreBigEndian(uint16_t& Field, uint16_t Value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(Value >> 8), static_cast<uint8_t>(Value & 0xFF)};
  std::memcpy(&Field, bytes, sizeof(bytes));
}

uint16_t ClampedCount(std::size_t Length) {
  return static_cast<uint16_t>(std::min<std::size_t>(Length, UINT16_MAX));
}

uint16_t BigEndianAt(std::span<const uint8_t> Bytes, std::size_t Offset) {
  return static_cast<uint16_t>((Bytes[Offset] << 8) | Bytes[Offset + 1]);
}

// Identifiers are compared as the bytes went out (host order, see BuildRequest).
uint16_t TransactionIDOf(std::span<const uint8_t> Frame) {
  uint16_t id = 0;
  std::memcpy(&id, Frame.data(), sizeof(id));
  return id;
}

// The length of the frame at the front of Bytes: 0 while its header is not
// complete, std::nullopt when its length field fits no Modbus TCP frame.
std::optional<std::size_t> FrameLengthAt(std::span<const uint8_t> Bytes) {
  if (Bytes.size() < ModBusHeaderLengthPrefix) return 0;
  const uint16_t recLength = BigEndianAt(Bytes, 4);
  if (recLength < 2 || recLength > ModBusMaxRecLength) return std::nullopt;
  return ModBusHeaderLengthPrefix + recLength;
}

// True when a reply with the request's function code carries what the request
// asked for: a read reply's byte count must be the one its count calls for,
// and the frame must hold that many bytes after it. Nothing is asked of the
// writes, whose replies echo the request.
bool HoldsTheRequestedValues(uint8_t AModBusFunction, uint16_t Count,
                             const TModBusResponseBuffer& Response, std::size_t FrameLength) {
  const std::optional<int> expected = ReadReplyByteCount(AModBusFunction, Count);
  if (!expected) return true;
  const std::size_t received = FrameLength - FrameDataOffset;  // byte count and values
  const auto bytes = static_cast<std::size_t>(*expected);
  return received >= 1 && Response.MBPData[0] == bytes && received - 1 >= bytes;
}

// The length of a normal reply to Request, header included: a read's byte
// count and values, or a write's 5-byte echo of address and count or value.
std::size_t ExpectedReplyLength(const TModBusRequestBuffer& Request) {
  const uint16_t count = BigEndianAt(Request.MBPData, 2);
  const std::optional<int> bytes = ReadReplyByteCount(Request.FunctionCode, count);
  return FrameDataOffset + (bytes ? 1 + static_cast<std::size_t>(*bytes) : 4);
}

// An exception reply: header, function code with bit 7 set, exception code.
constexpr std::size_t ExceptionReplyLength = FrameDataOffset + 1;

// "transaction id 7, expected 3"
std::string Differs(const char* What, unsigned Got, unsigned Expected) {
  return std::string(What) + " " + std::to_string(Got) + ", expected " + std::to_string(Expected);
}

}  // namespace

TIdModBusClient::TIdModBusClient() {
  SetPort(MB_PORT);
}

void TIdModBusClient::Connect() {
  TTcpClient::Connect();
  FLastTransactionID = 0;
  FSentTransactionIDZero = false;
  FGatewayAnswersWithZero = false;
}

uint16_t TIdModBusClient::GetNewTransactionID() {
  FLastTransactionID =
      FLastTransactionID == UINT16_MAX ? 0 : static_cast<uint16_t>(FLastTransactionID + 1);
  return FLastTransactionID;
}

void TIdModBusClient::DoResponseError(uint8_t FunctionCode, uint8_t ErrorCode,
                                      const TModBusResponseBuffer& ResponseBuffer) {
  if (OnResponseError) OnResponseError(FunctionCode, ErrorCode, ResponseBuffer);
}

void TIdModBusClient::DoResponseMismatch(uint8_t RequestFunctionCode, uint8_t ResponseFunctionCode,
                                         const TModBusResponseBuffer& ResponseBuffer) {
  if (OnResponseMismatch)
    OnResponseMismatch(RequestFunctionCode, ResponseFunctionCode, ResponseBuffer);
}

// ---------------------------------------------------------------------------
// One request and its reply

bool TIdModBusClient::SendCommand(uint8_t AModBusFunction, uint16_t ARegNumber,
                                  uint16_t ABlockLength, std::vector<uint16_t>& Data) {
  CheckForGracefulDisconnect();

  TModBusRequestBuffer request{};
  const std::size_t length = BuildRequest(request, AModBusFunction, ARegNumber, ABlockLength, Data);
  const auto requestBytes =
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&request), length);
  WriteDirect(requestBytes);
  FRequestWritten = Clock::now();
  if (request.Header.TransactionID == 0) FSentTransactionIDZero = true;
  EmitFrame(TFrameDirection::fdSent, TFrameOutcome::foOk, requestBytes);

  TModBusResponseBuffer response{};
  std::size_t frameLength = 0;
  if (!WaitForReply(request, response, frameLength)) {
    EmitFrame(TFrameDirection::fdReceived, TFrameOutcome::foTimeout, InputBuffer());
    return false;
  }
  const auto replyBytes =
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&response), frameLength);

  if (response.FunctionCode == AModBusFunction) {
    // The count the request carried (reads only; writes carry no count there).
    const uint16_t count = BigEndianAt(request.MBPData, 2);
    if (!HoldsTheRequestedValues(AModBusFunction, count, response, frameLength)) {
      EmitFrame(TFrameDirection::fdReceived, TFrameOutcome::foLengthError, replyBytes);
      DoResponseMismatch(AModBusFunction, response.FunctionCode, response);
      return false;
    }
    EmitFrame(TFrameDirection::fdReceived, TFrameOutcome::foOk, replyBytes);
    UnpackReadReply(AModBusFunction, count, response, Data);
    return true;
  }
  if (response.FunctionCode == (AModBusFunction | 0x80)) {
    EmitFrame(TFrameDirection::fdReceived, TFrameOutcome::foException, replyBytes);
    // An exception reply without its code byte leaves MBPData[0] at 0.
    DoResponseError(AModBusFunction, response.MBPData[0], response);
    return false;
  }
  EmitFrame(TFrameDirection::fdReceived, TFrameOutcome::foUnmatched, replyBytes);
  DoResponseMismatch(AModBusFunction, response.FunctionCode, response);
  return false;
}

std::size_t TIdModBusClient::BuildRequest(TModBusRequestBuffer& Request, uint8_t AModBusFunction,
                                          uint16_t ARegNumber, uint16_t ABlockLength,
                                          const std::vector<uint16_t>& Data) {
  // The transaction identifier goes out in host order; the server echoes the
  // two bytes back unchanged, which is all the matching relies on.
  Request.Header.TransactionID = GetNewTransactionID();
  StoreBigEndian(Request.Header.ProtocolID, MB_PROTOCOL);
  Request.Header.UnitID = FUnitID;
  Request.FunctionCode = AModBusFunction;

  auto& data = Request.MBPData;
  PutBigEndian(data, 0, static_cast<uint16_t>(ARegNumber - FBaseRegister));
  uint16_t recLength = 6;
  switch (AModBusFunction) {
    case mbfReadCoils:
    case mbfReadInputBits:
      PutBigEndian(data, 2, std::min(ABlockLength, MaxCoilBlockLength));
      break;
    case mbfReadHoldingRegs:
    case mbfReadInputRegs:
      PutBigEndian(data, 2, std::min(ABlockLength, MaxBlockLength));
      break;
    case mbfWriteOneCoil:
      data[2] = !Data.empty() && Data[0] != 0 ? 0xFF : 0x00;
      data[3] = 0x00;
      break;
    case mbfWriteOneReg:
      PutBigEndian(data, 2, Data.empty() ? 0 : Data[0]);
      break;
    case mbfWriteCoils: {
      const uint16_t count = std::min(ABlockLength, MaxCoilBlockLength);
      const uint8_t byteCount = static_cast<uint8_t>((count + 7) / 8);
      PutBigEndian(data, 2, count);
      data[4] = byteCount;
      PutCoilsIntoBuffer(std::span<uint8_t>(data).subspan(5, byteCount), count, Data);
      recLength = static_cast<uint16_t>(7 + byteCount);
      break;
    }
    case mbfWriteRegs: {
      const uint16_t count = std::min(ABlockLength, MaxBlockLength);
      const uint8_t byteCount = static_cast<uint8_t>(2 * count);
      PutBigEndian(data, 2, count);
      data[4] = byteCount;
      PutRegistersIntoBuffer(std::span<uint8_t>(data).subspan(5, byteCount), count, Data);
      recLength = static_cast<uint16_t>(7 + byteCount);
      break;
    }
    default:
      throw std::invalid_argument("Modbus function " + std::to_string(AModBusFunction) +
                                  " is not sent by this client");
  }
  StoreBigEndian(Request.Header.RecLength, recLength);
  return ModBusHeaderLengthPrefix + recLength;
}

bool TIdModBusClient::WaitForReply(const TModBusRequestBuffer& Request,
                                   TModBusResponseBuffer& Response, std::size_t& FrameLength) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(FTimeOut);
  std::size_t dropped = 0;
  bool looked = false;
  for (;;) {
    if (TakeReply(Request, Response, FrameLength, dropped)) return true;
    // Late replies and stray frames are dropped as they come; a peer that
    // keeps sending them would hold the request until its deadline.
    if (dropped > InputBufferCapacity)
      DropBrokenPeer("sent " + std::to_string(dropped) + " bytes that answer no request");
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    // Look at the socket at least once, so that TimeOut 0 still takes a
    // reply that is already there.
    if (looked && (left <= 0 || (AbortWait && AbortWait()))) return false;
    // Sleep in the kernel until bytes arrive or the deadline passes; a
    // positive ReadTimeout only cuts the sleep into slices of that length.
    const int32_t remaining = static_cast<int32_t>(std::clamp<int64_t>(left, 0, INT32_MAX));
    const int32_t wait = FReadTimeout > 0 ? std::min(FReadTimeout, remaining) : remaining;
    CheckForDataOnSource(wait);
    looked = true;
  }
}

bool TIdModBusClient::TakeReply(const TModBusRequestBuffer& Request,
                                TModBusResponseBuffer& Response, std::size_t& FrameLength,
                                std::size_t& Dropped) {
  for (;;) {
    const std::span<const uint8_t> in = InputBuffer();
    const std::optional<std::size_t> frameLength = FrameLengthAt(in);
    if (!frameLength) {
      // No frame has this length: the stream has lost its framing, and
      // nothing in it can be trusted to start a frame.
      EmitFrame(TFrameDirection::fdReceived, TFrameOutcome::foLengthError, in);
      Dropped += in.size();
      DiscardBytes(in.size());
      return false;
    }
    if (*frameLength == 0 || in.size() < *frameLength) return false;
    const std::span<const uint8_t> frame = in.first(*frameLength);
    std::string why;
    const TFrameMatch match = MatchFrame(frame, Request, &why);
    // A substitute answers only when the awaited frame is not right behind it.
    const bool answers =
        match == TFrameMatch::Awaited || (match == TFrameMatch::Substitute &&
                                          !AwaitedFrameFollows(in.subspan(*frameLength), Request));
    if (answers) {
      if (match == TFrameMatch::Substitute) FGatewayAnswersWithZero = true;
      std::memcpy(&Response, frame.data(), frame.size());
      FrameLength = frame.size();
      DiscardBytes(frame.size());
      return true;
    }
    // A substitute passed over for the awaited frame behind it.
    if (why.empty())
      why = Differs("transaction id", TransactionIDOf(frame), Request.Header.TransactionID);
    EmitFrame(TFrameDirection::fdReceived, TFrameOutcome::foUnmatched, frame, std::move(why));
    Dropped += frame.size();
    DiscardBytes(frame.size());
  }
}

TIdModBusClient::TFrameMatch TIdModBusClient::MatchFrame(std::span<const uint8_t> Frame,
                                                         const TModBusRequestBuffer& Request,
                                                         std::string* Why) const {
  const auto fail = [Why](std::string Reason) {
    if (Why) *Why = std::move(Reason);
    return TFrameMatch::Dropped;
  };
  const uint16_t protocol = BigEndianAt(Frame, 2);
  if (protocol != MB_PROTOCOL) return fail(Differs("protocol id", protocol, MB_PROTOCOL));
  const uint16_t id = TransactionIDOf(Frame);
  const uint16_t awaited = Request.Header.TransactionID;
  if (id == awaited) return TFrameMatch::Awaited;
  // Only identifier 0 stands for an echo-less gateway's reply, and only when
  // 0 cannot be the reply to an earlier request of this connection.
  if (id != 0 || (FSentTransactionIDZero && !FGatewayAnswersWithZero))
    return fail(Differs("transaction id", id, awaited));
  const uint8_t unit = Frame[offsetof(TModBusHeader, UnitID)];
  if (unit != Request.Header.UnitID) return fail(Differs("unit id", unit, Request.Header.UnitID));
  const uint8_t function = Frame[offsetof(TModBusResponseBuffer, FunctionCode)];
  const bool exception = function == (Request.FunctionCode | 0x80);
  if (function != Request.FunctionCode && !exception)
    return fail(Differs("function", function, Request.FunctionCode));
  const std::size_t length = exception ? ExceptionReplyLength : ExpectedReplyLength(Request);
  if (Frame.size() != length)
    return fail(
        Differs("length", static_cast<unsigned>(Frame.size()), static_cast<unsigned>(length)));
  return TFrameMatch::Substitute;
}

bool TIdModBusClient::AwaitedFrameFollows(std::span<const uint8_t> Rest,
                                          const TModBusRequestBuffer& Request) const {
  for (;;) {
    const std::optional<std::size_t> frameLength = FrameLengthAt(Rest);
    if (!frameLength || *frameLength == 0 || Rest.size() < *frameLength) return false;
    if (MatchFrame(Rest.first(*frameLength), Request) == TFrameMatch::Awaited) return true;
    Rest = Rest.subspan(*frameLength);
  }
}

// Count is the count the request carried; the reply was checked to hold it.
void TIdModBusClient::UnpackReadReply(uint8_t AModBusFunction, uint16_t Count,
                                      const TModBusResponseBuffer& Response,
                                      std::vector<uint16_t>& Data) const {
  const auto values = std::span<const uint8_t>(Response.MBPData).subspan(1);
  switch (AModBusFunction) {
    case mbfReadCoils:
    case mbfReadInputBits:
      GetCoilsFromBuffer(values, Count, Data);
      break;
    case mbfReadHoldingRegs:
    case mbfReadInputRegs:
      GetRegistersFromBuffer(values, Count, Data);
      break;
    default:
      break;  // write replies echo the request; nothing to take from them
  }
}

void TIdModBusClient::EmitFrame(TFrameDirection Direction, TFrameOutcome Outcome,
                                std::span<const uint8_t> Bytes, std::string NotMatched) {
  if (!FFrameHook.Active()) return;
  TFrameRecord record;
  record.Time = Clock::now();
  record.Direction = Direction;
  record.Framing = TFrameFraming::ffTcp;
  record.Outcome = Outcome;
  record.Bytes.assign(Bytes.begin(), Bytes.end());
  record.NotMatched = std::move(NotMatched);
  if (Direction == TFrameDirection::fdReceived) record.ResponseTime = record.Time - FRequestWritten;
  FFrameHook.Emit(record);
}

// ---------------------------------------------------------------------------
// Requests

template <typename F>
auto TIdModBusClient::WithConnection(F&& Request) -> decltype(Request()) {
  const bool opened = FAutoConnect && !Connected();
  if (opened) Connect();
  try {
    auto result = Request();
    if (opened) Disconnect();
    return result;
  } catch (...) {
    if (opened) Disconnect();
    throw;
  }
}

bool TIdModBusClient::ReadBits(uint8_t AModBusFunction, uint16_t RegNo, uint16_t Blocks,
                               std::vector<bool>& RegisterData) {
  return WithConnection([&] {
    std::vector<uint16_t> work(Blocks, 0);
    const bool result = SendCommand(AModBusFunction, RegNo, Blocks, work);
    if (RegisterData.size() < Blocks) RegisterData.resize(Blocks);
    for (std::size_t i = 0; i < Blocks; ++i) RegisterData[i] = work[i] == 1;
    return result;
  });
}

bool TIdModBusClient::ReadCoils(uint16_t RegNo, uint16_t Blocks, std::vector<bool>& RegisterData) {
  return ReadBits(mbfReadCoils, RegNo, Blocks, RegisterData);
}

bool TIdModBusClient::ReadCoil(uint16_t RegNo, bool& Value) {
  std::vector<bool> data(1, false);
  const bool result = ReadCoils(RegNo, 1, data);
  Value = data[0];
  return result;
}

bool TIdModBusClient::ReadInputBits(uint16_t RegNo, uint16_t Blocks,
                                    std::vector<bool>& RegisterData) {
  return ReadBits(mbfReadInputBits, RegNo, Blocks, RegisterData);
}

bool TIdModBusClient::ReadHoldingRegisters(uint16_t RegNo, uint16_t Blocks,
                                           std::vector<uint16_t>& RegisterData) {
  return WithConnection([&] {
    // Whatever happens, the caller gets Blocks values: zeros where nothing came back.
    std::vector<uint16_t> work(Blocks, 0);
    const bool result = SendCommand(mbfReadHoldingRegs, RegNo, Blocks, work);
    if (RegisterData.size() < Blocks) RegisterData.resize(Blocks);
    std::copy(work.begin(), work.end(), RegisterData.begin());
    return result;
  });
}

bool TIdModBusClient::ReadHoldingRegister(uint16_t RegNo, uint16_t& Value) {
  std::vector<uint16_t> data(1, 0);
  const bool result = ReadHoldingRegisters(RegNo, 1, data);
  Value = data[0];
  return result;
}

bool TIdModBusClient::ReadInputRegisters(uint16_t RegNo, uint16_t Blocks,
                                         std::vector<uint16_t>& RegisterData) {
  return WithConnection([&] {
    if (RegisterData.size() < Blocks) RegisterData.resize(Blocks);
    std::fill(RegisterData.begin(), RegisterData.end(), uint16_t{0});
    return SendCommand(mbfReadInputRegs, RegNo, Blocks, RegisterData);
  });
}

bool TIdModBusClient::ReadInputRegister(uint16_t RegNo, uint16_t& Value) {
  std::vector<uint16_t> data(1, 0);
  const bool result = ReadInputRegisters(RegNo, 1, data);
  Value = data[0];
  return result;
}

bool TIdModBusClient::ReadDWord(uint16_t RegNo, uint32_t& Value) {
  std::vector<uint16_t> regs(2, 0);
  const bool result = ReadHoldingRegisters(RegNo, 2, regs);
  Value = result ? (uint32_t{regs[0]} << 16) | regs[1] : 0;
  return result;
}

bool TIdModBusClient::ReadSingle(uint16_t RegNo, float& Value) {
  std::vector<uint16_t> regs(2, 0);
  const bool result = ReadHoldingRegisters(RegNo, 2, regs);
  const uint32_t bits = result ? (uint32_t{regs[1]} << 16) | regs[0] : 0;
  Value = std::bit_cast<float>(bits);
  return result;
}

bool TIdModBusClient::ReadDouble(uint16_t RegNo, double& Value) {
  std::vector<uint16_t> regs(4, 0);
  const bool result = ReadHoldingRegisters(RegNo, 4, regs);
  uint64_t bits = 0;
  if (result)
    for (int i = 3; i >= 0; --i) bits = (bits << 16) | regs[static_cast<std::size_t>(i)];
  Value = std::bit_cast<double>(bits);
  return result;
}

std::string TIdModBusClient::ReadString(uint16_t RegNo, uint16_t ALength) {
  const uint16_t count = static_cast<uint16_t>(ALength / 2 + ALength % 2);
  std::vector<uint16_t> regs(count, 0);
  if (!ReadHoldingRegisters(RegNo, count, regs)) return {};
  std::string result;
  result.reserve(ALength);
  for (const uint16_t reg : regs) {
    result += static_cast<char>(reg >> 8);
    if (result.size() < ALength) result += static_cast<char>(reg & 0xFF);
  }
  return result;
}

bool TIdModBusClient::WriteCoil(uint16_t RegNo, bool Value) {
  return WithConnection([&] {
    std::vector<uint16_t> data{static_cast<uint16_t>(Value ? 1 : 0)};
    return SendCommand(mbfWriteOneCoil, RegNo, 0, data);
  });
}

bool TIdModBusClient::WriteCoils(uint16_t RegNo, uint16_t /*Blocks*/,
                                 const std::vector<bool>& RegisterData) {
  return WithConnection([&] {
    std::vector<uint16_t> work(RegisterData.begin(), RegisterData.end());
    return SendCommand(mbfWriteCoils, RegNo, ClampedCount(work.size()), work);
  });
}

bool TIdModBusClient::WriteRegister(uint16_t RegNo, uint16_t Value) {
  return WithConnection([&] {
    std::vector<uint16_t> data{Value};
    return SendCommand(mbfWriteOneReg, RegNo, 0, data);
  });
}

bool TIdModBusClient::WriteRegisters(uint16_t RegNo, const std::vector<uint16_t>& RegisterData) {
  return WithConnection([&] {
    std::vector<uint16_t> work(RegisterData);
    return SendCommand(mbfWriteRegs, RegNo, ClampedCount(work.size()), work);
  });
}

bool TIdModBusClient::WriteDWord(uint16_t RegNo, uint32_t Value) {
  return WriteRegisters(
      RegNo, {static_cast<uint16_t>(Value >> 16), static_cast<uint16_t>(Value & 0xFFFF)});
}

bool TIdModBusClient::WriteSingle(uint16_t RegNo, float Value) {
  const uint32_t bits = std::bit_cast<uint32_t>(Value);
  return WriteRegisters(RegNo,
                        {static_cast<uint16_t>(bits & 0xFFFF), static_cast<uint16_t>(bits >> 16)});
}

bool TIdModBusClient::WriteDouble(uint16_t RegNo, double Value) {
  const uint64_t bits = std::bit_cast<uint64_t>(Value);
  std::vector<uint16_t> regs(4);
  for (std::size_t i = 0; i < 4; ++i) regs[i] = static_cast<uint16_t>(bits >> (16 * i));
  return WriteRegisters(RegNo, regs);
}

bool TIdModBusClient::WriteString(uint16_t RegNo, const std::string& Text) {
  if (Text.empty()) return false;
  std::vector<uint16_t> regs((Text.size() + 1) / 2, 0);
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const uint16_t code = static_cast<unsigned char>(Text[i]);
    regs[i / 2] = static_cast<uint16_t>(regs[i / 2] | (i % 2 == 0 ? code << 8 : code));
  }
  return WriteRegisters(RegNo, regs);
}
