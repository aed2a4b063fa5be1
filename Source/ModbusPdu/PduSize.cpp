#include "PduSize.h"

namespace {

constexpr std::uint8_t ExceptionFlag = 0x80;
constexpr std::uint16_t ReturnQueryData = 0;  // the diagnostics sub-function that echoes any data

// Function codes of section 6.
enum : std::uint8_t {
  fReadCoils = 1,
  fReadDiscreteInputs = 2,
  fReadHoldingRegisters = 3,
  fReadInputRegisters = 4,
  fWriteSingleCoil = 5,
  fWriteSingleRegister = 6,
  fReadExceptionStatus = 7,
  fDiagnostics = 8,
  fGetCommEventCounter = 11,
  fGetCommEventLog = 12,
  fWriteMultipleCoils = 15,
  fWriteMultipleRegisters = 16,
  fReportServerID = 17,
  fReadFileRecord = 20,
  fWriteFileRecord = 21,
  fMaskWriteRegister = 22,
  fReadWriteMultipleRegisters = 23,
  fReadFifoQueue = 24,
};

// A size read from byte Offset of the PDU, once it has arrived.
int ByteCountAt(const std::uint8_t* Pdu, int Count, int Offset, int Fixed) {
  return Count <= Offset ? PduSizeUnknownYet : Fixed + Pdu[Offset];
}

int WordCountAt(const std::uint8_t* Pdu, int Count, int Offset, int Fixed) {
  return Count <= Offset + 1 ? PduSizeUnknownYet : Fixed + (Pdu[Offset] << 8 | Pdu[Offset + 1]);
}

// The diagnostics sub-function, or -1 while it has not arrived.
int SubFunction(const std::uint8_t* Pdu, int Count) {
  return Count < 3 ? -1 : Pdu[1] << 8 | Pdu[2];
}

}  // namespace

int RequestPduSize(const std::uint8_t* Pdu, int Count) {
  if (Count < 1) return PduSizeUnknownYet;
  switch (Pdu[0]) {
    case fReadCoils:
    case fReadDiscreteInputs:
    case fReadHoldingRegisters:
    case fReadInputRegisters:
    case fWriteSingleCoil:
    case fWriteSingleRegister:
      return 5;
    case fReadExceptionStatus:
    case fGetCommEventCounter:
    case fGetCommEventLog:
    case fReportServerID:
      return 1;
    case fDiagnostics: {
      const int sub = SubFunction(Pdu, Count);
      if (sub < 0) return PduSizeUnknownYet;
      return sub == ReturnQueryData ? PduSizeUnpredictable : 5;
    }
    case fWriteMultipleCoils:
    case fWriteMultipleRegisters:
      return ByteCountAt(Pdu, Count, 5, 6);  // start, count, byte count, data
    case fReadFileRecord:
    case fWriteFileRecord:
      return ByteCountAt(Pdu, Count, 1, 2);
    case fMaskWriteRegister:
      return 7;
    case fReadWriteMultipleRegisters:
      return ByteCountAt(Pdu, Count, 9, 10);  // read start and count, write start,
                                              // count and byte count, data
    case fReadFifoQueue:
      return 3;
    default:
      return PduSizeUnpredictable;
  }
}

int ReplyPduSize(const std::uint8_t* Pdu, int Count, std::uint8_t QueryFunction, int QuerySize) {
  if (Count < 1) return PduSizeUnknownYet;
  if (Pdu[0] & ExceptionFlag) return 2;
  switch (Pdu[0]) {
    case fReadCoils:
    case fReadDiscreteInputs:
    case fReadHoldingRegisters:
    case fReadInputRegisters:
    case fGetCommEventLog:
    case fReportServerID:
    case fReadFileRecord:
    case fWriteFileRecord:
    case fReadWriteMultipleRegisters:
      return ByteCountAt(Pdu, Count, 1, 2);
    case fWriteSingleCoil:
    case fWriteSingleRegister:
    case fGetCommEventCounter:
    case fWriteMultipleCoils:
    case fWriteMultipleRegisters:
      return 5;
    case fReadExceptionStatus:
      return 2;
    case fDiagnostics: {
      const int sub = SubFunction(Pdu, Count);
      if (sub < 0) return PduSizeUnknownYet;
      if (sub != ReturnQueryData) return 5;
      return QueryFunction == fDiagnostics && QuerySize > 0 ? QuerySize : PduSizeUnpredictable;
    }
    case fMaskWriteRegister:
      return 7;
    case fReadFifoQueue:
      return WordCountAt(Pdu, Count, 1, 3);  // byte count, FIFO count, values
    default:
      return PduSizeUnpredictable;
  }
}

std::optional<int> ReadReplyByteCount(std::uint8_t Function, std::uint16_t Count) {
  switch (Function) {
    case fReadCoils:
    case fReadDiscreteInputs:
      return (Count + 7) / 8;
    case fReadHoldingRegisters:
    case fReadInputRegisters:
      return 2 * Count;
    default:
      return std::nullopt;
  }
}
