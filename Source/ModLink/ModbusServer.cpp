#include "ModbusServer.h"

#include <vector>

#include "BitPacking.h"
#include "ModLinkConsts.h"
#include "ModLinkError.h"
#include "ModbusBuffer.h"
#include "ModbusConnection.h"
#include "ModbusValueTypes.h"

// Reads the fields of a query, each 16-bit field high byte first, and never past the data
// that arrived: the buffer's own checks only stop at its capacity, so a short query would
// otherwise be decoded from whatever an earlier frame left behind. Running out of data
// raises EModLinkError, which the handlers answer with "illegal data value".
class TModbusServer::TQueryReader {
 public:
  TQueryReader(TModbusBuffer& Buffer, int DataStart, int DataEnd)
      : FBuffer(Buffer), FPosition(DataStart), FDataEnd(DataEnd) {}

  std::uint8_t Byte() {
    MoveCursor(1);
    const std::uint8_t Value = FBuffer.GetByte();
    FBuffer.Seek(smNextByte);
    FPosition = FBuffer.Position();
    return Value;
  }

  std::uint16_t Word() {
    MoveCursor(2);
    const std::uint16_t Value = FBuffer.GetWordHiLo();
    FBuffer.Seek(smNextWord);
    FPosition = FBuffer.Position();
    return Value;
  }

  // Places the buffer's cursor at the next unread byte for readers that work on the buffer
  // directly, once Remaining() has been checked.
  void MoveCursor(int NeededBytes) {
    if (NeededBytes > Remaining()) ModLinkError("The query is shorter than its fields");
    FBuffer.SetPosition(FPosition);
  }

  int Remaining() const { return FDataEnd - FPosition; }

 private:
  TModbusBuffer& FBuffer;
  int FPosition;
  int FDataEnd;
};

namespace {

constexpr int MaxItemAddress = 65535;

// Clears the server's active transaction when processing ends, also on an exception.
class TActiveTransactionScope {
 public:
  TActiveTransactionScope(TModbusTransaction*& Slot, TModbusTransaction& Transaction)
      : FSlot(Slot) {
    FSlot = &Transaction;
  }
  ~TActiveTransactionScope() { FSlot = nullptr; }
  TActiveTransactionScope(const TActiveTransactionScope&) = delete;
  TActiveTransactionScope& operator=(const TActiveTransactionScope&) = delete;

 private:
  TModbusTransaction*& FSlot;
};

bool CountInRange(int Count, int Limit) {
  return Count >= 1 && Count <= Limit;
}
bool LastItemInRange(int First, int Count) {
  return First + Count - 1 <= MaxItemAddress;
}

}  // namespace

bool TModbusServer::IsSupportedCommand(std::uint8_t Command) {
  switch (Command) {
    case Cmd_ReadCoils:
    case Cmd_ReadDiscreteInputs:
    case Cmd_ReadHoldingRegisters:
    case Cmd_ReadInputRegisters:
    case Cmd_WriteSingleCoil:
    case Cmd_WriteSingleRegister:
    case Cmd_WriteMultipleCoils:
    case Cmd_WriteMultipleRegisters:
      return true;
    default:
      return false;
  }
}

TModbusServer::~TModbusServer() {
  try {
    SetConnection(nullptr);
  } catch (...) {
    // Unregistering only edits a list; nothing useful can be done about a failure here.
  }
}

void TModbusServer::SetAddress(std::uint8_t Value) {
  if (Value == FAddress) return;
  if (Value < 1 || Value > 247) ModLinkError(ModLinkMessages::SValueOutOfRange, {1, 247});
  FAddress = Value;
}

void TModbusServer::SetConnection(TModbusConnection* Value) {
  if (Value == FConnection) return;
  if (FConnection != nullptr) FConnection->UnregisterServer(this);
  FConnection = Value;
  if (FConnection != nullptr) FConnection->RegisterServer(this);
}

void TModbusServer::ConnectionDestroyed(TModbusConnection& AConnection) {
  if (FConnection == &AConnection) FConnection = nullptr;
}

void TModbusServer::CheckConnected() const {
  if (FConnection == nullptr || !FConnection->Active() || FConnection->IsLoading())
    ModLinkError("There is no active connection");
}

void TModbusServer::CheckActiveTransaction() const {
  if (FActiveTransaction == nullptr) ModLinkError("There is no active transaction");
}

// ---------------------------------------------------------------------------------------
// Events

bool TModbusServer::DoAcceptCommand(std::uint8_t Command) {
  bool Accept = false;
  if (OnAcceptCommand) OnAcceptCommand(*this, Command, Accept);
  return Accept;
}

bool TModbusServer::DoCanReadCoil(std::uint16_t BitAddr) {
  bool Allow = false;
  if (OnCanReadCoil) OnCanReadCoil(*this, BitAddr, Allow);
  return Allow;
}

bool TModbusServer::DoCanReadDiscreteInput(std::uint16_t BitAddr) {
  bool Allow = false;
  if (OnCanReadDiscreteInput) OnCanReadDiscreteInput(*this, BitAddr, Allow);
  return Allow;
}

bool TModbusServer::DoCanReadHoldingRegister(std::uint16_t RegAddr) {
  bool Allow = false;
  if (OnCanReadHoldingRegister) OnCanReadHoldingRegister(*this, RegAddr, Allow);
  return Allow;
}

bool TModbusServer::DoCanReadInputRegister(std::uint16_t RegAddr) {
  bool Allow = false;
  if (OnCanReadInputRegister) OnCanReadInputRegister(*this, RegAddr, Allow);
  return Allow;
}

TItemWriteStatus TModbusServer::DoCanWriteCoil(std::uint16_t BitAddr, bool BitValue) {
  TItemWriteStatus Status = iwsIllegalAddress;
  if (OnCanWriteCoil) OnCanWriteCoil(*this, BitAddr, BitValue, Status);
  return Status;
}

TItemWriteStatus TModbusServer::DoCanWriteHoldingRegister(std::uint16_t RegAddr,
                                                          std::uint16_t RegValue) {
  TItemWriteStatus Status = iwsIllegalAddress;
  if (OnCanWriteHoldingRegister) OnCanWriteHoldingRegister(*this, RegAddr, RegValue, Status);
  return Status;
}

void TModbusServer::DoCommandHandlerException(std::uint8_t Command, TServerException Exception,
                                              std::uint8_t ExceptionCode) {
  if (OnCommandHandlerException)
    OnCommandHandlerException(*this, Command, Exception, ExceptionCode);
}

bool TModbusServer::DoGetCoilValue(std::uint16_t BitAddr) {
  bool BitValue = false;
  if (OnGetCoilValue) OnGetCoilValue(*this, BitAddr, BitValue);
  return BitValue;
}

bool TModbusServer::DoGetDiscreteInputValue(std::uint16_t BitAddr) {
  bool BitValue = false;
  if (OnGetDiscreteInputValue) OnGetDiscreteInputValue(*this, BitAddr, BitValue);
  return BitValue;
}

std::uint16_t TModbusServer::DoGetHoldingRegisterValue(std::uint16_t RegAddr) {
  std::uint16_t RegValue = 0;
  if (OnGetHoldingRegisterValue) OnGetHoldingRegisterValue(*this, RegAddr, RegValue);
  return RegValue;
}

std::uint16_t TModbusServer::DoGetInputRegisterValue(std::uint16_t RegAddr) {
  std::uint16_t RegValue = 0;
  if (OnGetInputRegisterValue) OnGetInputRegisterValue(*this, RegAddr, RegValue);
  return RegValue;
}

void TModbusServer::DoSetCoilValue(std::uint16_t BitAddr, bool BitValue) {
  if (OnSetCoilValue) OnSetCoilValue(*this, BitAddr, BitValue);
}

void TModbusServer::DoSetHoldingRegisterValue(std::uint16_t RegAddr, std::uint16_t RegValue) {
  if (OnSetHoldingRegisterValue) OnSetHoldingRegisterValue(*this, RegAddr, RegValue);
}

// ---------------------------------------------------------------------------------------
// Exception replies

void TModbusServer::EmitExceptionReply(TServerException Exception) {
  CheckActiveTransaction();
  CheckConnected();
  const std::uint8_t Command = FConnection->AcquireModbusCommand(FActiveTransaction->QueryBuffer);
  BuildExceptionReply(FActiveTransaction->ReplyBuffer, Command, Exception);
}

void TModbusServer::BuildExceptionReply(TModbusBuffer& Buffer, std::uint8_t Command,
                                        TServerException Exception) {
  CheckConnected();  // the error check depends on the connection's transmission mode
  const auto ExceptionCode = static_cast<std::uint8_t>(Exception);
  Buffer.SetSize(0);
  Buffer.PutByte(FAddress);
  Buffer.PutByte(static_cast<std::uint8_t>(Command | 0x80));
  Buffer.PutByte(ExceptionCode);
  EmitErrorCheck(Buffer);
  DoCommandHandlerException(Command, Exception, ExceptionCode);
}

void TModbusServer::CommandNotSupported() {
  CheckActiveTransaction();
  if (IsBroadcast()) return;
  EmitExceptionReply(seIllegalCommand);
}

// ---------------------------------------------------------------------------------------
// Processing one query

void TModbusServer::ProcessTransaction(TModbusTransaction& Transaction) {
  CheckConnected();
  TActiveTransactionScope Scope(FActiveTransaction, Transaction);

  const std::uint8_t Command = FConnection->AcquireModbusCommand(Transaction.QueryBuffer);
  // Commands outside the supported set never reach the application.
  if (!IsSupportedCommand(Command) || !DoAcceptCommand(Command)) {
    CommandNotSupported();
    return;
  }
  switch (Command) {
    case Cmd_ReadCoils:
      ProcessReadBits(Command, TItemKind::Coil);
      break;
    case Cmd_ReadDiscreteInputs:
      ProcessReadBits(Command, TItemKind::DiscreteInput);
      break;
    case Cmd_ReadHoldingRegisters:
      ProcessReadRegisters(Command, TItemKind::HoldingRegister);
      break;
    case Cmd_ReadInputRegisters:
      ProcessReadRegisters(Command, TItemKind::InputRegister);
      break;
    case Cmd_WriteSingleCoil:
      ProcessWriteSingleCoil();
      break;
    case Cmd_WriteSingleRegister:
      ProcessWriteSingleRegister();
      break;
    case Cmd_WriteMultipleCoils:
      ProcessWriteMultipleCoils();
      break;
    case Cmd_WriteMultipleRegisters:
      ProcessWriteMultipleRegisters();
      break;
    default:
      break;
  }
}

bool TModbusServer::IsBroadcast() const {
  return FActiveTransaction->Info.Address == BroadcastAddress;
}

bool TModbusServer::ReplyIsEmpty() const {
  return FActiveTransaction->ReplyBuffer.Size() == 0;
}

TModbusServer::TQueryReader TModbusServer::MakeQueryReader() const {
  TModbusBuffer& Query = FActiveTransaction->QueryBuffer;
  const int DataStart = FConnection->DetermineHeaderSize() + 1;
  const int DataEnd =
      Query.Size() - (FActiveTransaction->ErrorCheck ? FConnection->DetermineErrorCheckSize() : 0);
  return TQueryReader(Query, DataStart, DataEnd);
}

void TModbusServer::ReplyException(std::uint8_t Command, TServerException Exception) {
  BuildExceptionReply(FActiveTransaction->ReplyBuffer, Command, Exception);
}

void TModbusServer::ReplyExceptionUnlessBroadcast(std::uint8_t Command,
                                                  TServerException Exception) {
  if (!IsBroadcast()) ReplyException(Command, Exception);
}

// Maps a refused write onto its exception reply; true when the write may go ahead.
bool TModbusServer::WriteAllowed(std::uint8_t Command, TItemWriteStatus Status) {
  switch (Status) {
    case iwsAllowWrite:
      return true;
    case iwsIllegalAddress:
      ReplyExceptionUnlessBroadcast(Command, seIllegalDataAddress);
      return false;
    case iwsIllegalValue:
      ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
      return false;
  }
  InternalError();
}

void TModbusServer::StartReply(std::uint8_t Command) {
  TModbusBuffer& Reply = FActiveTransaction->ReplyBuffer;
  Reply.SetSize(0);
  Reply.PutByte(FAddress);
  Reply.PutByte(Command);
}

void TModbusServer::FinishReply() {
  EmitErrorCheck(FActiveTransaction->ReplyBuffer);
}

void TModbusServer::EmitErrorCheck(TModbusBuffer& Buffer) {
  const bool ForActive = FActiveTransaction && &Buffer == &FActiveTransaction->ReplyBuffer;
  if (!ForActive || FActiveTransaction->ErrorCheck) FConnection->EmitErrorCheck(Buffer);
}

bool TModbusServer::CanRead(TItemKind Kind, std::uint16_t Item) {
  switch (Kind) {
    case TItemKind::Coil:
      return DoCanReadCoil(Item);
    case TItemKind::DiscreteInput:
      return DoCanReadDiscreteInput(Item);
    case TItemKind::HoldingRegister:
      return DoCanReadHoldingRegister(Item);
    case TItemKind::InputRegister:
      return DoCanReadInputRegister(Item);
  }
  InternalError();
}

// Reads the first item and the count of a read query and checks them; true when all the
// items may be read. Refusals are answered even for a broadcast, which is never sent.
bool TModbusServer::AcceptReadRange(std::uint8_t Command, TItemKind Kind, int Limit,
                                    std::uint16_t& First, std::uint16_t& Count) {
  TQueryReader Reader = MakeQueryReader();
  try {
    First = Reader.Word();
    Count = Reader.Word();
  } catch (const EModLinkError&) {
    ReplyException(Command, seIllegalDataValue);
    return false;
  }
  if (!CountInRange(Count, Limit)) {
    ReplyException(Command, seIllegalDataValue);
    return false;
  }
  if (!LastItemInRange(First, Count)) {
    ReplyException(Command, seIllegalDataAddress);
    return false;
  }
  for (int I = 0; I < Count; ++I) {
    if (!CanRead(Kind, static_cast<std::uint16_t>(First + I))) {
      ReplyException(Command, seIllegalDataAddress);
      return false;
    }
  }
  return true;
}

void TModbusServer::ProcessReadBits(std::uint8_t Command, TItemKind Kind) {
  std::uint16_t First = 0;
  std::uint16_t Count = 0;
  if (!AcceptReadRange(Command, Kind, MaxReadBitCount, First, Count)) return;

  TBitValues Values(Count);
  try {
    for (int I = 0; I < Count; ++I) {
      const auto Item = static_cast<std::uint16_t>(First + I);
      Values[I] = Kind == TItemKind::Coil ? DoGetCoilValue(Item) : DoGetDiscreteInputValue(Item);
    }
  } catch (...) {
    // A failing application handler becomes a server failure on the line; it is not shown.
    ReplyExceptionUnlessBroadcast(Command, seServerFailure);
    return;
  }
  if (!ReplyIsEmpty()) return;  // a handler emitted an exception reply
  StartReply(Command);
  TModbusBuffer& Reply = FActiveTransaction->ReplyBuffer;
  Reply.PutByte(static_cast<std::uint8_t>(DetermineEncodedSize(Count)));
  EncodeBits(Values, Reply);
  FinishReply();
}

void TModbusServer::ProcessReadRegisters(std::uint8_t Command, TItemKind Kind) {
  std::uint16_t First = 0;
  std::uint16_t Count = 0;
  if (!AcceptReadRange(Command, Kind, MaxReadRegisterCount, First, Count)) return;

  // Reused from query to query: answering allocates nothing once the largest read was served.
  TRegValues& Values = FRegisterScratch;
  Values.resize(Count);
  try {
    for (int I = 0; I < Count; ++I) {
      const auto Item = static_cast<std::uint16_t>(First + I);
      Values[I] = Kind == TItemKind::HoldingRegister ? DoGetHoldingRegisterValue(Item)
                                                     : DoGetInputRegisterValue(Item);
    }
  } catch (...) {
    ReplyExceptionUnlessBroadcast(Command, seServerFailure);
    return;
  }
  if (!ReplyIsEmpty()) return;
  StartReply(Command);
  TModbusBuffer& Reply = FActiveTransaction->ReplyBuffer;
  Reply.PutByte(static_cast<std::uint8_t>(2 * Count));
  for (const std::uint16_t Value : Values) Reply.PutWordHiLo(Value);
  FinishReply();
}

void TModbusServer::ProcessWriteSingleCoil() {
  const std::uint8_t Command = Cmd_WriteSingleCoil;
  std::uint16_t BitAddr = 0;
  std::uint16_t ValueWord = 0;
  TQueryReader Reader = MakeQueryReader();
  try {
    BitAddr = Reader.Word();
    ValueWord = Reader.Word();
  } catch (const EModLinkError&) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
    return;
  }
  if (ValueWord != CoilOn && ValueWord != CoilOff) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
    return;
  }
  const bool BitValue = ValueWord == CoilOn;
  if (!WriteAllowed(Command, DoCanWriteCoil(BitAddr, BitValue))) return;
  try {
    DoSetCoilValue(BitAddr, BitValue);
  } catch (...) {
    ReplyExceptionUnlessBroadcast(Command, seServerFailure);
    return;
  }
  if (IsBroadcast() || !ReplyIsEmpty()) return;
  StartReply(Command);
  FActiveTransaction->ReplyBuffer.PutWordHiLo(BitAddr);
  FActiveTransaction->ReplyBuffer.PutWordHiLo(ValueWord);
  FinishReply();
}

void TModbusServer::ProcessWriteSingleRegister() {
  const std::uint8_t Command = Cmd_WriteSingleRegister;
  std::uint16_t RegAddr = 0;
  std::uint16_t RegValue = 0;
  TQueryReader Reader = MakeQueryReader();
  try {
    RegAddr = Reader.Word();
    RegValue = Reader.Word();
  } catch (const EModLinkError&) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
    return;
  }
  if (!WriteAllowed(Command, DoCanWriteHoldingRegister(RegAddr, RegValue))) return;
  try {
    DoSetHoldingRegisterValue(RegAddr, RegValue);
  } catch (...) {
    ReplyExceptionUnlessBroadcast(Command, seServerFailure);
    return;
  }
  if (IsBroadcast() || !ReplyIsEmpty()) return;
  StartReply(Command);
  FActiveTransaction->ReplyBuffer.PutWordHiLo(RegAddr);
  FActiveTransaction->ReplyBuffer.PutWordHiLo(RegValue);
  FinishReply();
}

// Reads first item, count and byte count of a multiple write and checks them. The byte
// count must match the count and the data bytes that really follow it; a query that
// disagrees with itself is refused as a whole rather than half decoded. On success the
// reader stands at the first value byte.
bool TModbusServer::AcceptWriteRange(std::uint8_t Command, int Limit, int BytesPerItem,
                                     TQueryReader& Reader, std::uint16_t& First,
                                     std::uint16_t& Count) {
  try {
    First = Reader.Word();
    Count = Reader.Word();
  } catch (const EModLinkError&) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
    return false;
  }
  if (!CountInRange(Count, Limit)) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
    return false;
  }
  if (!LastItemInRange(First, Count)) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataAddress);
    return false;
  }
  int ByteCount = -1;
  try {
    ByteCount = Reader.Byte();
  } catch (const EModLinkError&) {
  }
  const int Expected = BytesPerItem == 0 ? DetermineEncodedSize(Count) : BytesPerItem * Count;
  if (ByteCount != Expected || Reader.Remaining() != ByteCount) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
    return false;
  }
  return true;
}

// Asks about every item before writing any, so that a refusal leaves nothing written; a
// handler that fails while storing ends the write there (earlier items stay written).
template <typename TValues, typename TCanWrite, typename TSet>
void TModbusServer::WriteItems(std::uint8_t Command, std::uint16_t First, const TValues& Values,
                               TCanWrite CanWrite, TSet Set) {
  const auto Count = static_cast<int>(Values.size());
  for (int I = 0; I < Count; ++I) {
    if (!WriteAllowed(Command, CanWrite(static_cast<std::uint16_t>(First + I), Values[I]))) return;
  }
  try {
    for (int I = 0; I < Count; ++I) Set(static_cast<std::uint16_t>(First + I), Values[I]);
  } catch (...) {
    ReplyExceptionUnlessBroadcast(Command, seServerFailure);
    return;
  }
  if (IsBroadcast() || !ReplyIsEmpty()) return;
  StartReply(Command);
  FActiveTransaction->ReplyBuffer.PutWordHiLo(First);
  FActiveTransaction->ReplyBuffer.PutWordHiLo(static_cast<std::uint16_t>(Count));
  FinishReply();
}

void TModbusServer::ProcessWriteMultipleCoils() {
  const std::uint8_t Command = Cmd_WriteMultipleCoils;
  TQueryReader Reader = MakeQueryReader();
  std::uint16_t First = 0;
  std::uint16_t Count = 0;
  if (!AcceptWriteRange(Command, MaxWriteBitCount, 0, Reader, First, Count)) return;
  TBitValues Values(Count);
  try {
    Reader.MoveCursor(DetermineEncodedSize(Count));
    DecodeBits(FActiveTransaction->QueryBuffer, Values);
  } catch (const EModLinkError&) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
    return;
  }
  WriteItems(
      Command, First, Values,
      [this](std::uint16_t Item, bool Value) { return DoCanWriteCoil(Item, Value); },
      [this](std::uint16_t Item, bool Value) { DoSetCoilValue(Item, Value); });
}

void TModbusServer::ProcessWriteMultipleRegisters() {
  const std::uint8_t Command = Cmd_WriteMultipleRegisters;
  TQueryReader Reader = MakeQueryReader();
  std::uint16_t First = 0;
  std::uint16_t Count = 0;
  if (!AcceptWriteRange(Command, MaxWriteRegisterCount, 2, Reader, First, Count)) return;
  TRegValues Values(Count);
  try {
    for (auto& Value : Values) Value = Reader.Word();
  } catch (const EModLinkError&) {
    ReplyExceptionUnlessBroadcast(Command, seIllegalDataValue);
    return;
  }
  WriteItems(
      Command, First, Values,
      [this](std::uint16_t Item, std::uint16_t Value) {
        return DoCanWriteHoldingRegister(Item, Value);
      },
      [this](std::uint16_t Item, std::uint16_t Value) { DoSetHoldingRegisterValue(Item, Value); });
}
