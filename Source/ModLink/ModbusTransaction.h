// One Modbus request on its way through the connection: the query as built by its
// requester, the reply as decoded by the worker thread, and the record of how it ended.
#pragma once

#include <cstdint>
#include <memory>

#include "ModbusBuffer.h"

class TModbusClient;

// How a transaction ended. The ordinals are part of the interface.
enum TServerReply : std::uint8_t {
  srNone,             // nothing came back in time, or the query was not sent completely
  srInvalidFrame,     // bytes came back but did not form a valid frame
  srUnexpectedReply,  // a valid frame from another server; never final, the worker listens on
  srUnmatchedReply,   // the right server, but the reply does not fit the query
  srExceptionReply,   // a Modbus exception reply; Exception and ExceptionCode are filled
  srNormalReply       // a regular reply; for a plain broadcast: the query was sent
};

// Modbus exception codes; the ordinal is the code on the wire (codes above 8 map to seUnknown).
enum TServerException : std::uint8_t {
  seUnknown,
  seIllegalCommand,
  seIllegalDataAddress,
  seIllegalDataValue,
  seServerFailure,
  seAcknowledge,
  seServerBusy,
  seNegativeAcknowledge,
  seMemoryParityError
};

// What the requester learns about a finished transaction. Creators zero it, then set ID,
// Address and UserData; the worker thread fills in the rest.
struct TTransactionInfo {
  std::uint32_t ID = 0;
  std::uint8_t Address = 0;  // 0 is the broadcast address
  void* UserData = nullptr;
  std::uint32_t Retries = 0;  // send attempts made, 1 .. MaxRetries
  TServerReply Reply = srNone;
  TServerException Exception = seUnknown;  // meaningful only with srExceptionReply
  std::uint8_t ExceptionCode = 0;          // raw code, meaningful only with srExceptionReply
};

class TModbusTransaction {
 public:
  // Both buffers get BufCapacity bytes; creators pass the connection's maximum frame size.
  explicit TModbusTransaction(int BufCapacity);
  TModbusTransaction(const TModbusTransaction&) = delete;
  TModbusTransaction& operator=(const TModbusTransaction&) = delete;

  // Declared in this order so that the reply buffer is released before the query buffer.
  TModbusBuffer QueryBuffer;  // complete binary query, error check included
  TModbusBuffer ReplyBuffer;  // client: decoded reply; server: the reply being built
  bool Custom = false;        // custom transactions always wait for and report a reply
  TTransactionInfo Info;
  TModbusClient* Originator = nullptr;  // not owned; null for the connection's broadcasts
  bool Promiscuous = false;             // accept a reply from any server address
  // False for a PDU that another transport carries (Modbus TCP): a server then reads the
  // query and builds the reply without CRC or LRC.
  bool ErrorCheck = true;
};

// Transactions travel through the queue, the worker and the completion message by unique_ptr:
// whoever holds it last frees it.
using TModbusTransactionPtr = std::unique_ptr<TModbusTransaction>;
