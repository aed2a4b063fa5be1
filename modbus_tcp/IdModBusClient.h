#pragma once
// Modbus TCP client: the requesting side of Modbus TCP towards one server over
// one connection. Each request builds its frame, sends it, waits for the reply
// that carries the request's transaction identifier and unpacks it. Outcomes
// on the wire are results, not exceptions: a request returns false on a
// time-out, an exception reply (OnResponseError), a reply with another
// function code or a read reply whose byte count does not cover exactly the
// requested values (OnResponseMismatch). Connection failures raise
// ETcpConnectionError. Single-threaded, one request at a time.
//
// Which received frame answers a request: the one carrying the request's
// transaction identifier. Some gateways answer every request with identifier
// 0 instead of echoing it: a frame with identifier 0, when 0 was not sent on
// this connection (or was already taken from such a gateway), answers the
// request when it has the request's unit identifier, its function code (or
// that code's exception reply) and the length a reply to it has. Every other
// frame is dropped and recorded as not matched: frames whose protocol
// identifier is not 0, late replies to requests that timed out, stray frames.
// A peer that sends more than the input buffer holds in frames that answer
// nothing is broken: the request raises ETcpConnectionError
// (BrokenPeerError) and the connection is closed.
//
// Every frame sent and received is handed to FrameHook() listeners.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "FrameHook.h"
#include "ModBusConsts.h"
#include "ModbusTypes.h"
#include "TcpClient.h"

// Exception reply: the request's function code, the exception code, the reply.
using TModBusClientErrorEvent = std::function<void(uint8_t FunctionCode, uint8_t ErrorCode,
                                                   const TModBusResponseBuffer& ResponseBuffer)>;
// Reply with an unexpected function code: the request's and the reply's code.
// A read reply with the request's function code whose byte count does not
// match the requested count (or whose frame does not hold the bytes the count
// announces) raises it too, with both codes equal.
using TModBusClientResponseMismatchEvent =
    std::function<void(uint8_t RequestFunctionCode, uint8_t ResponseFunctionCode,
                       const TModBusResponseBuffer& ResponseBuffer)>;

class TIdModBusClient : public TTcpClient {
 public:
  TIdModBusClient();

  // Opens the connection and restarts the transaction identifiers, so the
  // first request on a fresh connection carries 1.
  void Connect() override;

  // Connect before and disconnect after each request that finds the
  // connection closed.
  bool AutoConnect() const { return FAutoConnect; }
  void SetAutoConnect(bool Value) { FAutoConnect = Value; }
  // Subtracted (modulo 65536) from every register number given to a request.
  uint16_t BaseRegister() const { return FBaseRegister; }
  void SetBaseRegister(uint16_t Value) { FBaseRegister = Value; }
  // Milliseconds one look at the socket may wait while a reply is awaited.
  int32_t ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int32_t Value) { FReadTimeout = Value; }
  // Milliseconds to wait for a reply.
  // Asked between the slices of a reply wait (ReadTimeout): true gives the
  // wait up at once, as a time-out. A program that stops on a signal sets it,
  // so that a stop does not wait out a silent device.
  std::function<bool()> AbortWait;

  uint32_t TimeOut() const { return FTimeOut; }
  void SetTimeOut(uint32_t Value) { FTimeOut = Value; }
  uint8_t UnitID() const { return FUnitID; }
  void SetUnitID(uint8_t Value) { FUnitID = Value; }
  // The component's version text; it cannot be changed.
  std::string Version() const { return "1.5.2"; }
  void SetVersion(const std::string&) {}

  TModBusClientErrorEvent OnResponseError;
  TModBusClientResponseMismatchEvent OnResponseMismatch;

  // Records every request written and every frame received or given up on
  // (framing ffTcp), on the thread that makes the request.
  TFrameHook& FrameHook() { return FFrameHook; }

  // Returns the next transaction identifier; 65535 is followed by 0.
  uint16_t GetNewTransactionID();

  // Requests. Each returns true when the server answered with the request's
  // function code and, for reads, with exactly the requested values. A
  // caller's array shorter than Blocks is grown to Blocks.
  bool ReadCoils(uint16_t RegNo, uint16_t Blocks, std::vector<bool>& RegisterData);
  bool ReadCoil(uint16_t RegNo, bool& Value);
  bool ReadInputBits(uint16_t RegNo, uint16_t Blocks, std::vector<bool>& RegisterData);
  bool ReadHoldingRegisters(uint16_t RegNo, uint16_t Blocks, std::vector<uint16_t>& RegisterData);
  bool ReadHoldingRegister(uint16_t RegNo, uint16_t& Value);
  bool ReadInputRegisters(uint16_t RegNo, uint16_t Blocks, std::vector<uint16_t>& RegisterData);
  bool ReadInputRegister(uint16_t RegNo, uint16_t& Value);
  // RegNo holds the high word, RegNo + 1 the low word.
  bool ReadDWord(uint16_t RegNo, uint32_t& Value);
  // Floating point: RegNo holds the lowest word of the bit pattern.
  bool ReadSingle(uint16_t RegNo, float& Value);
  bool ReadDouble(uint16_t RegNo, double& Value);
  // Two characters per register, the first in the high byte; empty on failure.
  std::string ReadString(uint16_t RegNo, uint16_t ALength);

  bool WriteCoil(uint16_t RegNo, bool Value);
  // Writes as many coils as RegisterData holds (at most 250); Blocks is not used.
  bool WriteCoils(uint16_t RegNo, uint16_t Blocks, const std::vector<bool>& RegisterData);
  bool WriteRegister(uint16_t RegNo, uint16_t Value);
  // Writes as many registers as RegisterData holds (at most 125).
  bool WriteRegisters(uint16_t RegNo, const std::vector<uint16_t>& RegisterData);
  bool WriteDWord(uint16_t RegNo, uint32_t Value);
  bool WriteSingle(uint16_t RegNo, float Value);
  bool WriteDouble(uint16_t RegNo, double Value);
  // An empty text sends nothing and returns false.
  bool WriteString(uint16_t RegNo, const std::string& Text);

 protected:
  // Raise the two events; they do nothing when no handler is assigned.
  virtual void DoResponseError(uint8_t FunctionCode, uint8_t ErrorCode,
                               const TModBusResponseBuffer& ResponseBuffer);
  virtual void DoResponseMismatch(uint8_t RequestFunctionCode, uint8_t ResponseFunctionCode,
                                  const TModBusResponseBuffer& ResponseBuffer);

  // Sends one request and waits for its reply. For reads Data receives the
  // values (one per coil, 1 or 0, or one per register, never more than Data
  // holds); for writes it supplies them.
  bool SendCommand(uint8_t AModBusFunction, uint16_t ARegNumber, uint16_t ABlockLength,
                   std::vector<uint16_t>& Data);

 private:
  // Builds the request frame; returns the number of bytes to send.
  std::size_t BuildRequest(TModBusRequestBuffer& Request, uint8_t AModBusFunction,
                           uint16_t ARegNumber, uint16_t ABlockLength,
                           const std::vector<uint16_t>& Data);
  // Waits until the reply to Request is complete in the input buffer and
  // copies it into Response. False when the deadline passes first. Sleeps in
  // the kernel while it waits.
  bool WaitForReply(const TModBusRequestBuffer& Request, TModBusResponseBuffer& Response,
                    std::size_t& FrameLength);
  // Takes complete frames off the input buffer until one answers Request; the
  // others are dropped and their bytes added to Dropped. True when one was found.
  bool TakeReply(const TModBusRequestBuffer& Request, TModBusResponseBuffer& Response,
                 std::size_t& FrameLength, std::size_t& Dropped);
  enum class TFrameMatch { Awaited, Substitute, Dropped };
  // How Frame stands to Request; for a dropped frame, Why says what differs.
  TFrameMatch MatchFrame(std::span<const uint8_t> Frame, const TModBusRequestBuffer& Request,
                         std::string* Why = nullptr) const;
  // True when Rest holds a complete frame carrying the request's identifier.
  bool AwaitedFrameFollows(std::span<const uint8_t> Rest,
                           const TModBusRequestBuffer& Request) const;
  void UnpackReadReply(uint8_t AModBusFunction, uint16_t Count,
                       const TModBusResponseBuffer& Response, std::vector<uint16_t>& Data) const;
  void EmitFrame(TFrameDirection Direction, TFrameOutcome Outcome, std::span<const uint8_t> Bytes,
                 std::string NotMatched = {});

  // Runs Request between an automatic connect and disconnect when needed.
  template <typename F>
  auto WithConnection(F&& Request) -> decltype(Request());

  bool ReadBits(uint8_t AModBusFunction, uint16_t RegNo, uint16_t Blocks,
                std::vector<bool>& RegisterData);

  bool FAutoConnect = true;
  uint16_t FBaseRegister = 1;
  uint16_t FLastTransactionID = 0;
  int32_t FReadTimeout = 0;
  uint32_t FTimeOut = 15000;
  uint8_t FUnitID = MB_IGNORE_UNITID;

  // Per connection: whether identifier 0 went out (after 65535 requests), and
  // whether a gateway's identifier-0 frame was taken as a reply.
  bool FSentTransactionIDZero = false;
  bool FGatewayAnswersWithZero = false;
  std::chrono::steady_clock::time_point FRequestWritten;
  TFrameHook FFrameHook;
};
