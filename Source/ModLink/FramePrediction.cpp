#include "FramePrediction.h"

#include "ModLinkConsts.h"

namespace {

constexpr int Overhead = 4;  // address, function code, two CRC bytes
constexpr std::uint8_t Cmd_GetCommEventCounter = 11;
constexpr std::uint8_t Cmd_GetCommEventLog = 12;
constexpr std::uint8_t Cmd_ReadFifoQueue = 24;
constexpr std::uint16_t ReturnQueryData = 0;  // the diagnostics sub-function that echoes any data

// A size read from byte Offset of the frame, once it has arrived.
int CountAt(const std::uint8_t* Frame, int Count, int Offset, int Fixed) {
  if (Count <= Offset) return UnknownYet;
  const int Size = Fixed + Frame[Offset];
  return Size <= MaxFrameADUSizeRTU ? Size : Unpredictable;
}

int WordCountAt(const std::uint8_t* Frame, int Count, int Offset, int Fixed) {
  if (Count <= Offset + 1) return UnknownYet;
  const int Size = Fixed + (Frame[Offset] << 8 | Frame[Offset + 1]);
  return Size <= MaxFrameADUSizeRTU ? Size : Unpredictable;
}

}  // namespace

int PredictQuerySize(const std::uint8_t* Frame, int Count) {
  if (Count < 2) return UnknownYet;
  switch (Frame[1]) {
    case Cmd_ReadCoils:
    case Cmd_ReadDiscreteInputs:
    case Cmd_ReadHoldingRegisters:
    case Cmd_ReadInputRegisters:
    case Cmd_WriteSingleCoil:
    case Cmd_WriteSingleRegister:
      return Overhead + 4;
    case Cmd_ReadExceptionStatus:
    case Cmd_GetCommEventCounter:
    case Cmd_GetCommEventLog:
    case Cmd_ReportServerID:
      return Overhead;
    case Cmd_Diagnostics:
      if (Count < 4) return UnknownYet;
      return (Frame[2] << 8 | Frame[3]) == ReturnQueryData ? Unpredictable : Overhead + 4;
    case Cmd_WriteMultipleCoils:
    case Cmd_WriteMultipleRegisters:
      return CountAt(Frame, Count, 6, Overhead + 5);  // start, count, byte count, data
    case Cmd_ReadFileRecord:
    case Cmd_WriteFileRecord:
      return CountAt(Frame, Count, 2, Overhead + 1);
    case Cmd_MaskWriteRegister:
      return Overhead + 6;
    case Cmd_ReadWriteMultipleRegisters:
      return CountAt(Frame, Count, 10, Overhead + 9);  // read start and count, write start,
                                                       // count and byte count, data
    case Cmd_ReadFifoQueue:
      return Overhead + 2;
    default:
      return Unpredictable;
  }
}

int PredictReplySize(const std::uint8_t* Frame, int Count, const TQueryShape& Query) {
  if (Count < 2) return UnknownYet;
  if (Frame[1] & ExceptionReplyFlag) return MinReplyADUSizeRTU;
  switch (Frame[1]) {
    case Cmd_ReadCoils:
    case Cmd_ReadDiscreteInputs:
    case Cmd_ReadHoldingRegisters:
    case Cmd_ReadInputRegisters:
    case Cmd_GetCommEventLog:
    case Cmd_ReportServerID:
    case Cmd_ReadFileRecord:
    case Cmd_WriteFileRecord:
    case Cmd_ReadWriteMultipleRegisters:
      return CountAt(Frame, Count, 2, Overhead + 1);
    case Cmd_WriteSingleCoil:
    case Cmd_WriteSingleRegister:
    case Cmd_GetCommEventCounter:
    case Cmd_WriteMultipleCoils:
    case Cmd_WriteMultipleRegisters:
      return Overhead + 4;
    case Cmd_ReadExceptionStatus:
      return Overhead + 1;
    case Cmd_Diagnostics:
      if (Count < 4) return UnknownYet;
      if ((Frame[2] << 8 | Frame[3]) != ReturnQueryData) return Overhead + 4;
      return Query.Command == Cmd_Diagnostics ? Query.Size : Unpredictable;
    case Cmd_MaskWriteRegister:
      return Overhead + 6;
    case Cmd_ReadFifoQueue:
      return WordCountAt(Frame, Count, 2, Overhead + 2);
    default:
      return Unpredictable;
  }
}
