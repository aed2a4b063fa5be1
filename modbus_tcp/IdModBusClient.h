#pragma once
// Modbus TCP client: the requesting side of Modbus TCP towards one server over
// one connection. Each request builds its frame, sends it, waits for the reply
// that carries the request's transaction identifier and unpacks it. Outcomes
// on the wire are results, not exceptions: a request returns false on a
// time-out, an exception reply (OnResponseError) or a reply with another
// function code (OnResponseMismatch). Connection failures raise
// ETcpConnectionError. Single-threaded, one request at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ModBusConsts.h"
#include "ModbusTypes.h"
#include "TcpClient.h"

// Exception reply: the request's function code, the exception code, the reply.
using TModBusClientErrorEvent = std::function<void(
    uint8_t FunctionCode, uint8_t ErrorCode, const TModBusResponseBuffer& ResponseBuffer)>;
// Reply with an unexpected function code: the request's and the reply's code.
using TModBusClientResponseMismatchEvent = std::function<void(
    uint8_t RequestFunctionCode, uint8_t ResponseFunctionCode,
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
  uint32_t TimeOut() const { return FTimeOut; }
  void SetTimeOut(uint32_t Value) { FTimeOut = Value; }
  uint8_t UnitID() const { return FUnitID; }
  void SetUnitID(uint8_t Value) { FUnitID = Value; }
  // The component's version text; it cannot be changed.
  std::string Version() const { return "1.5.2"; }
  void SetVersion(const std::string&) {}

  TModBusClientErrorEvent OnResponseError;
  TModBusClientResponseMismatchEvent OnResponseMismatch;

  // Returns the next transaction identifier; 65535 is followed by 0.
  uint16_t GetNewTransactionID();

  // Requests. Each returns true when the server answered with the request's
  // function code. A caller's array shorter than Blocks is grown to Blocks.
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
  // Waits until the reply carrying TransactionID is complete in the input
  // buffer and copies it into Response. False when the deadline passes first.
  bool WaitForReply(uint16_t TransactionID, TModBusResponseBuffer& Response,
                    std::size_t& FrameLength);
  // Takes the first complete frame off the input buffer; stale frames (other
  // transaction identifiers) are dropped. True when the awaited one was found.
  bool TakeReply(uint16_t TransactionID, TModBusResponseBuffer& Response,
                 std::size_t& FrameLength);
  void UnpackReadReply(uint8_t AModBusFunction, const TModBusResponseBuffer& Response,
                       std::size_t FrameLength, std::vector<uint16_t>& Data) const;

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
};
