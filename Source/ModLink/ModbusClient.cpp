#include "ModbusClient.h"

#include <algorithm>
#include <array>

#include "ModLinkConsts.h"
#include "ModLinkError.h"
#include "ModbusConnection.h"
#include "RequestRangeChecks.h"

namespace {

using namespace ModLinkMessages;

constexpr int MaxRequestDataSize = MaxFramePDUSize - 1;

constexpr std::array<const char*, 9> ServerExceptions = {
    "Unknown exception code", "Illegal command",      "Illegal data address",
    "Illegal data value",     "Server failure",       "Acknowledge",
    "Server is busy",         "Negative acknowledge", "Memory parity error"};

struct TDiagnosticActionInfo {
  std::uint16_t SubFunction;
  std::uint16_t QueryData;
  bool Echo;  // the reply must repeat the query's data word
};

// Indexed by TDiagnosticAction.
constexpr std::array<TDiagnosticActionInfo, 15> DiagnosticActions = {{
    {0, LoopbackTestData, true},   // daReturnQueryData
    {1, 0x0000, true},             // daRestartCommsOption
    {1, ClearEventLogData, true},  // daRestartCommsOptionAndClearEventLog
    {2, 0x0000, false},            // daReturnDiagnosticRegister
    {4, 0x0000, false},            // daForceListenOnlyMode
    {10, 0x0000, true},            // daClearCountersAndDiagnosticRegister
    {11, 0x0000, false},           // daReturnBusMessageCount
    {12, 0x0000, false},           // daReturnBusCommErrorCount
    {13, 0x0000, false},           // daReturnBusExceptionErrorCount
    {14, 0x0000, false},           // daReturnServerMessageCount
    {15, 0x0000, false},           // daReturnServerNoReplyCount
    {16, 0x0000, false},           // daReturnServerNegativeAcknowledgeCount
    {17, 0x0000, false},           // daReturnServerBusyCount
    {18, 0x0000, false},           // daReturnBusCharacterOverrunCount
    {20, 0x0000, true},            // daClearOverrunCounterAndFlag
}};

TDiagnosticAction SubcommandToAction(std::uint16_t SubFunction) {
  for (std::size_t i = 0; i < DiagnosticActions.size(); ++i)
    if (DiagnosticActions[i].SubFunction == SubFunction) return static_cast<TDiagnosticAction>(i);
  ModLinkError(SDiagnosticActionUnknown);
}

TServerException ExceptionFromCode(std::uint8_t Code) {
  return Code >= 1 && Code <= 8 ? static_cast<TServerException>(Code) : seUnknown;
}

// Reads the fields of a frame after its function code, never past the data that was actually
// received: the error check and everything beyond Size are out of reach. Reading too far
// raises "Internal error", which the reply handlers turn into srUnmatchedReply.
class TFrameReader {
 public:
  TFrameReader(const TModbusBuffer& Buffer, const TModbusConnection& Connection)
      : FBuffer(Buffer),
        FPos(Connection.DetermineHeaderSize() + 1),
        FEnd(Buffer.Size() - Connection.DetermineErrorCheckSize()) {}

  int Remaining() const { return std::max(FEnd - FPos, 0); }
  void Require(int Count) const {
    if (Count > Remaining()) InternalError();
  }
  std::uint8_t Byte() {
    Require(1);
    return FBuffer.StartPtr()[FPos++];
  }
  std::uint16_t Word() {
    Require(2);
    const std::uint8_t* P = FBuffer.StartPtr() + FPos;
    FPos += 2;
    return static_cast<std::uint16_t>(P[0] << 8 | P[1]);
  }
  // Unpacks Count bits, least significant bit of each byte first.
  void Bits(TBitValues& Values, int Count) {
    Require((Count + 7) / 8);
    for (int i = 0; i < Count; ++i) {
      const std::uint8_t Packed = FBuffer.StartPtr()[FPos + i / 8];
      Values[static_cast<std::size_t>(i)] = (Packed >> (i % 8) & 1) != 0;
    }
    FPos += (Count + 7) / 8;
  }
  void Expect(bool Condition) const {
    if (!Condition) InternalError();
  }

 private:
  const TModbusBuffer& FBuffer;
  int FPos;
  int FEnd;
};

// Runs a reply check; a reply that does not fit its query turns the outcome into
// srUnmatchedReply. Only the library's own error is caught.
template <typename TCheck>
void CheckReply(TTransactionInfo& Info, TCheck&& Check) {
  if (Info.Reply != srNormalReply) return;
  try {
    Check();
  } catch (const EModLinkError&) {
    Info.Reply = srUnmatchedReply;
  }
}

int EncodedSize(int BitCount) {
  return BitCount / 8 + (BitCount % 8 != 0 ? 1 : 0);
}

}  // namespace

TModbusClient::~TModbusClient() {
  SetConnection(nullptr);
}

// ---- properties ------------------------------------------------------------------------------

void TModbusClient::SetConnection(TModbusConnection* Value) {
  if (Value == FConnection) return;
  if (FConnection) FConnection->UnregisterClient(this);
  FConnection = Value;
  if (FConnection) FConnection->RegisterClient(this);
}

void TModbusClient::ConnectionDestroyed(TModbusConnection* AConnection) {
  if (AConnection == FConnection) FConnection = nullptr;
}

void TModbusClient::SetServerAddress(std::uint8_t Value) {
  if (Value == FServerAddress) return;
  if (FConnection) FConnection->DiscardPendingTransactions(this);
  FServerAddress = Value;
}

void TModbusClient::SetMaxConsecutiveTimeouts(std::int32_t Value) {
  Value = std::max(Value, -1);
  if (Value == FMaxConsecutiveTimeouts) return;
  FMaxConsecutiveTimeouts = Value;
  FConsecutiveTimeoutCount = 0;
}

std::string TModbusClient::ExceptionCodeToStr(std::uint8_t ExceptionCode) {
  std::string Description = ServerExceptions[ExceptionFromCode(ExceptionCode)];
  DoTranslateExceptionCode(ExceptionCode, Description);
  return Description;
}

// ---- building requests -----------------------------------------------------------------------

void TModbusClient::CheckConnected() const {
  if (!FConnection || !FConnection->Active() || FConnection->IsLoading())
    ModLinkError(SNoActiveConnection);
}

TModbusTransactionPtr TModbusClient::NewTransaction(void* UserData) {
  auto T = std::make_unique<TModbusTransaction>(FConnection->DetermineMaximumFrameSize());
  T->Info = TTransactionInfo{};
  T->Info.ID = FConnection->GetNextUniqueID();
  T->Info.Address = FServerAddress;
  T->Info.UserData = UserData;
  FConnection->EmitHeader(this, T->QueryBuffer);
  return T;
}

std::uint32_t TModbusClient::Enqueue(TModbusTransactionPtr Transaction) {
  FConnection->EmitErrorCheck(Transaction->QueryBuffer);
  const std::uint32_t ID = Transaction->Info.ID;
  FConnection->EnqueueTransaction(std::move(Transaction), this);
  return ID;
}

namespace {

void PutBits(TModbusBuffer& Buffer, const TBitValues& Bits) {
  std::uint8_t Packed = 0;
  for (std::size_t i = 0; i < Bits.size(); ++i) {
    if (Bits[i]) Packed = static_cast<std::uint8_t>(Packed | 1u << (i % 8));
    if (i % 8 == 7 || i + 1 == Bits.size()) {
      Buffer.PutByte(Packed);
      Packed = 0;
    }
  }
}

}  // namespace

// The four table reads share one query layout: command, first item, item count.
std::uint32_t TModbusClient::EnqueueRangeRead(std::uint8_t Command, std::uint16_t Start,
                                              std::uint16_t Count, void* UserData) {
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Command);
  T->QueryBuffer.PutWordHiLo(Start);
  T->QueryBuffer.PutWordHiLo(Count);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::ReadCoils(std::uint16_t StartBit, std::uint16_t BitCount,
                                       void* UserData) {
  CheckConnected();
  CheckBitRange(StartBit, BitCount, MaxReadBitCount);
  return EnqueueRangeRead(Cmd_ReadCoils, StartBit, BitCount, UserData);
}

std::uint32_t TModbusClient::ReadDiscreteInputs(std::uint16_t StartBit, std::uint16_t BitCount,
                                                void* UserData) {
  CheckConnected();
  CheckBitRange(StartBit, BitCount, MaxReadBitCount);
  return EnqueueRangeRead(Cmd_ReadDiscreteInputs, StartBit, BitCount, UserData);
}

std::uint32_t TModbusClient::ReadHoldingRegisters(std::uint16_t StartReg, std::uint16_t RegCount,
                                                  void* UserData) {
  CheckConnected();
  CheckRegisterRange(StartReg, RegCount, MaxReadRegisterCount);
  return EnqueueRangeRead(Cmd_ReadHoldingRegisters, StartReg, RegCount, UserData);
}

std::uint32_t TModbusClient::ReadInputRegisters(std::uint16_t StartReg, std::uint16_t RegCount,
                                                void* UserData) {
  CheckConnected();
  CheckRegisterRange(StartReg, RegCount, MaxReadRegisterCount);
  return EnqueueRangeRead(Cmd_ReadInputRegisters, StartReg, RegCount, UserData);
}

std::uint32_t TModbusClient::WriteSingleCoil(std::uint16_t BitAddr, bool BitValue, void* UserData) {
  CheckConnected();
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_WriteSingleCoil);
  T->QueryBuffer.PutWordHiLo(BitAddr);
  T->QueryBuffer.PutWordHiLo(BitValue ? CoilOn : CoilOff);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::WriteSingleRegister(std::uint16_t RegAddr, std::uint16_t RegValue,
                                                 void* UserData) {
  CheckConnected();
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_WriteSingleRegister);
  T->QueryBuffer.PutWordHiLo(RegAddr);
  T->QueryBuffer.PutWordHiLo(RegValue);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::ReadExceptionStatus(void* UserData) {
  CheckConnected();
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_ReadExceptionStatus);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::Diagnostics(TDiagnosticAction Action, void* UserData) {
  CheckConnected();
  if (Action >= DiagnosticActions.size()) InternalError();
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_Diagnostics);
  T->QueryBuffer.PutWordHiLo(DiagnosticActions[Action].SubFunction);
  T->QueryBuffer.PutWordHiLo(DiagnosticActions[Action].QueryData);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::WriteMultipleCoils(std::uint16_t StartBit, const TBitValues& BitValues,
                                                void* UserData) {
  CheckConnected();
  const int Count = static_cast<int>(std::min<std::size_t>(BitValues.size(), 0x10000));
  CheckBitRange(StartBit, Count, MaxWriteBitCount);
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_WriteMultipleCoils);
  T->QueryBuffer.PutWordHiLo(StartBit);
  T->QueryBuffer.PutWordHiLo(static_cast<std::uint16_t>(Count));
  T->QueryBuffer.PutByte(static_cast<std::uint8_t>(EncodedSize(Count)));
  PutBits(T->QueryBuffer, BitValues);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::WriteMultipleRegisters(std::uint16_t StartReg,
                                                    const TRegValues& RegValues, void* UserData) {
  CheckConnected();
  const int Count = static_cast<int>(std::min<std::size_t>(RegValues.size(), 0x10000));
  CheckRegisterRange(StartReg, Count, MaxWriteRegisterCount);
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_WriteMultipleRegisters);
  T->QueryBuffer.PutWordHiLo(StartReg);
  T->QueryBuffer.PutWordHiLo(static_cast<std::uint16_t>(Count));
  T->QueryBuffer.PutByte(static_cast<std::uint8_t>(2 * Count));
  for (std::uint16_t Value : RegValues) T->QueryBuffer.PutWordHiLo(Value);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::ReportServerID(void* UserData) {
  CheckConnected();
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_ReportServerID);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::ReadFileRecord(const TModbusFileRecordList& FileRecList,
                                            void* UserData) {
  CheckConnected();
  // The query carries 7 bytes per record; the reply 2 bytes of header plus the values.
  int ReplySize = 2;
  for (int i = 0; i < FileRecList.Count(); ++i)
    ReplySize += 2 * FileRecList.Items(i).RegCount() + 2;
  if (FileRecList.Count() == 0 || 2 + 7 * FileRecList.Count() > MaxFramePDUSize ||
      ReplySize > MaxFramePDUSize)
    ModLinkError(SFileRecordListInvalid);
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_ReadFileRecord);
  T->QueryBuffer.PutByte(static_cast<std::uint8_t>(7 * FileRecList.Count()));
  for (int i = 0; i < FileRecList.Count(); ++i) {
    const TModbusFileRecord& Record = FileRecList.Items(i);
    T->QueryBuffer.PutByte(ReferenceType);
    T->QueryBuffer.PutWordHiLo(Record.FileID());
    T->QueryBuffer.PutWordHiLo(Record.StartReg());
    T->QueryBuffer.PutWordHiLo(static_cast<std::uint16_t>(Record.RegCount()));
  }
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::WriteFileRecord(const TModbusFileRecordList& FileRecList,
                                             void* UserData) {
  CheckConnected();
  int ByteCount = 0;
  for (int i = 0; i < FileRecList.Count(); ++i)
    ByteCount += 7 + 2 * FileRecList.Items(i).RegCount();
  if (FileRecList.Count() == 0 || ByteCount + 2 > MaxFramePDUSize)
    ModLinkError(SFileRecordListInvalid);
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_WriteFileRecord);
  T->QueryBuffer.PutByte(static_cast<std::uint8_t>(ByteCount));
  for (int i = 0; i < FileRecList.Count(); ++i) {
    const TModbusFileRecord& Record = FileRecList.Items(i);
    T->QueryBuffer.PutByte(ReferenceType);
    T->QueryBuffer.PutWordHiLo(Record.FileID());
    T->QueryBuffer.PutWordHiLo(Record.StartReg());
    T->QueryBuffer.PutWordHiLo(static_cast<std::uint16_t>(Record.RegCount()));
    for (std::uint16_t Value : Record.RegValues()) T->QueryBuffer.PutWordHiLo(Value);
  }
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::MaskWriteSingleRegister(std::uint16_t RegAddr, std::uint16_t AndMask,
                                                     std::uint16_t OrMask, void* UserData) {
  CheckConnected();
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_MaskWriteRegister);
  T->QueryBuffer.PutWordHiLo(RegAddr);
  T->QueryBuffer.PutWordHiLo(AndMask);
  T->QueryBuffer.PutWordHiLo(OrMask);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::ReadWriteMultipleRegisters(std::uint16_t StartRegToRead,
                                                        std::uint16_t RegCountToRead,
                                                        std::uint16_t StartRegToWrite,
                                                        const TRegValues& RegValuesToWrite,
                                                        void* UserData) {
  CheckConnected();
  CheckRegisterRange(StartRegToRead, RegCountToRead, MaxReadRegisterCount);
  const int WriteCount = static_cast<int>(std::min<std::size_t>(RegValuesToWrite.size(), 0x10000));
  CheckRegisterRange(StartRegToWrite, WriteCount, MaxReadWriteWriteCount);
  auto T = NewTransaction(UserData);
  T->QueryBuffer.PutByte(Cmd_ReadWriteMultipleRegisters);
  T->QueryBuffer.PutWordHiLo(StartRegToRead);
  T->QueryBuffer.PutWordHiLo(RegCountToRead);
  T->QueryBuffer.PutWordHiLo(StartRegToWrite);
  T->QueryBuffer.PutWordHiLo(static_cast<std::uint16_t>(WriteCount));
  T->QueryBuffer.PutByte(static_cast<std::uint8_t>(2 * WriteCount));
  for (std::uint16_t Value : RegValuesToWrite) T->QueryBuffer.PutWordHiLo(Value);
  return Enqueue(std::move(T));
}

std::uint32_t TModbusClient::InitCustomTransaction(std::uint8_t Command,
                                                   const std::vector<std::uint8_t>& RequestData,
                                                   bool PromiscuousMode, void* UserData) {
  CheckConnected();
  if (RequestData.size() > MaxRequestDataSize)
    ModLinkError(SRequestDataSizeInvalid, {static_cast<unsigned long>(RequestData.size())});
  auto T = NewTransaction(UserData);
  T->Custom = true;
  T->Promiscuous = PromiscuousMode;
  T->QueryBuffer.PutByte(Command);
  T->QueryBuffer.PutBlock(RequestData.data(), static_cast<int>(RequestData.size()));
  return Enqueue(std::move(T));
}

// ---- completing transactions -----------------------------------------------------------------

void TModbusClient::DoneTransaction(TModbusTransaction& Transaction) {
  CheckConnected();
  const std::uint8_t Command = FConnection->AcquireModbusCommand(Transaction.QueryBuffer);
  if (Transaction.Custom)
    DoneCustomTransaction(Transaction, Command);
  else
    DonePublicTransaction(Transaction, Command);
  DoTransactionProcessed(Transaction.Info, Command, Transaction.Custom);
  KeepTrackOfConsecutiveTimeouts(Transaction.Info);
}

void TModbusClient::DonePublicTransaction(TModbusTransaction& T, std::uint8_t Command) {
  switch (Command) {
    case Cmd_ReadCoils:
      DoneReadDiscreteBits(T, true);
      break;
    case Cmd_ReadDiscreteInputs:
      DoneReadDiscreteBits(T, false);
      break;
    case Cmd_ReadHoldingRegisters:
      DoneReadModbusRegisters(T, true);
      break;
    case Cmd_ReadInputRegisters:
      DoneReadModbusRegisters(T, false);
      break;
    case Cmd_WriteSingleCoil:
      DoneWriteSingleCoil(T);
      break;
    case Cmd_WriteSingleRegister:
      DoneWriteSingleRegister(T);
      break;
    case Cmd_ReadExceptionStatus:
      DoneReadExceptionStatus(T);
      break;
    case Cmd_Diagnostics:
      DoneDiagnostics(T);
      break;
    case Cmd_WriteMultipleCoils:
      DoneWriteMultipleCoils(T);
      break;
    case Cmd_WriteMultipleRegisters:
      DoneWriteMultipleRegisters(T);
      break;
    case Cmd_ReportServerID:
      DoneReportServerID(T);
      break;
    case Cmd_ReadFileRecord:
      DoneReadFileRecord(T);
      break;
    case Cmd_WriteFileRecord:
      DoneWriteFileRecord(T);
      break;
    case Cmd_MaskWriteRegister:
      DoneMaskWriteSingleRegister(T);
      break;
    case Cmd_ReadWriteMultipleRegisters:
      DoneReadWriteMultipleRegisters(T);
      break;
    default:
      break;
  }
}

void TModbusClient::DoneCustomTransaction(TModbusTransaction& T, std::uint8_t Command) {
  const TServerReply Reply = T.Info.Reply;
  if (T.Promiscuous &&
      (Reply == srUnmatchedReply || Reply == srExceptionReply || Reply == srNormalReply))
    T.Info.Address = FConnection->AcquireServerAddress(T.ReplyBuffer);
  DoCustomTransactionComplete(T, Command);
}

void TModbusClient::DoneReadDiscreteBits(TModbusTransaction& T, bool Coils) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t StartBit = Query.Word();
  const std::uint16_t BitCount = Query.Word();
  TBitValues Bits(BitCount, false);
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Expect(Reply.Byte() == EncodedSize(BitCount));
    Reply.Bits(Bits, BitCount);
  });
  if (Coils)
    DoCoilsRead(T.Info, StartBit, BitCount, Bits);
  else
    DoDiscreteInputsRead(T.Info, StartBit, BitCount, Bits);
}

void TModbusClient::DoneReadModbusRegisters(TModbusTransaction& T, bool Holding) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t StartReg = Query.Word();
  const std::uint16_t RegCount = Query.Word();
  TRegValues Values(RegCount, 0);
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    const int ByteCount = Reply.Byte();
    // An odd count that still names the registers (7 div 2 = 3) is accepted as long as
    // every requested value came; the byte the odd count promises beyond them is not needed.
    Reply.Expect(ByteCount / 2 == RegCount);
    for (std::uint16_t& Value : Values) Value = Reply.Word();
  });
  if (Holding)
    DoHoldingRegistersRead(T.Info, StartReg, RegCount, Values);
  else
    DoInputRegistersRead(T.Info, StartReg, RegCount, Values);
}

void TModbusClient::DoneWriteSingleCoil(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t BitAddr = Query.Word();
  const std::uint16_t Value = Query.Word();
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Expect(Reply.Word() == BitAddr);
    Reply.Expect(Reply.Word() == Value);
  });
  DoSingleCoilWrite(T.Info, BitAddr, Value == CoilOn);
}

void TModbusClient::DoneWriteSingleRegister(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t RegAddr = Query.Word();
  const std::uint16_t Value = Query.Word();
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Expect(Reply.Word() == RegAddr);
    Reply.Expect(Reply.Word() == Value);
  });
  DoSingleRegisterWrite(T.Info, RegAddr, Value);
}

void TModbusClient::DoneReadExceptionStatus(TModbusTransaction& T) {
  TExceptionStatusValues Status(8, false);
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Bits(Status, 8);
  });
  DoExceptionStatusRead(T.Info, Status);
}

void TModbusClient::DoneDiagnostics(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t SubFunction = Query.Word();
  const std::uint16_t QueryData = Query.Word();
  TDiagnosticAction Action = SubcommandToAction(SubFunction);
  if (Action == daRestartCommsOption && QueryData == ClearEventLogData)
    Action = daRestartCommsOptionAndClearEventLog;
  std::uint16_t Result = 0;
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Expect(Reply.Word() == SubFunction);
    const std::uint16_t ReplyData = Reply.Word();
    if (DiagnosticActions[Action].Echo)
      Reply.Expect(ReplyData == QueryData);
    else
      Result = ReplyData;
  });
  DoDiagnostics(T.Info, Action, Result);
}

void TModbusClient::DoneWriteMultipleCoils(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t StartBit = Query.Word();
  const std::uint16_t BitCount = Query.Word();
  Query.Byte();  // byte count
  TBitValues Bits(BitCount, false);
  Query.Bits(Bits, BitCount);
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Expect(Reply.Word() == StartBit);
    Reply.Expect(Reply.Word() == BitCount);
  });
  DoMultipleCoilsWrite(T.Info, StartBit, BitCount, Bits);
}

void TModbusClient::DoneWriteMultipleRegisters(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t StartReg = Query.Word();
  const std::uint16_t RegCount = Query.Word();
  Query.Byte();  // byte count
  TRegValues Values(RegCount, 0);
  for (std::uint16_t& Value : Values) Value = Query.Word();
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Expect(Reply.Word() == StartReg);
    Reply.Expect(Reply.Word() == RegCount);
  });
  DoMultipleRegistersWrite(T.Info, StartReg, RegCount, Values);
}

void TModbusClient::DoneReportServerID(TModbusTransaction& T) {
  TServerIdentificationData Data;
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    const int Count = Reply.Byte();
    Reply.Require(Count);
    Data.resize(static_cast<std::size_t>(Count));
    for (std::uint8_t& Byte : Data) Byte = Reply.Byte();
  });
  // A reply that fell short reports nothing rather than a partly filled identification.
  if (T.Info.Reply != srNormalReply) Data.clear();
  DoServerIdentificationReport(T.Info, static_cast<std::int32_t>(Data.size()), Data);
}

void TModbusClient::DoneReadFileRecord(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const int Records = Query.Byte() / 7;
  TModbusFileRecordList List;
  int ExpectedByteCount = 0;
  for (int i = 0; i < Records; ++i) {
    Query.Byte();  // reference type
    const std::uint16_t FileID = Query.Word();
    const std::uint16_t StartReg = Query.Word();
    const std::uint16_t RegCount = Query.Word();
    List.Add(FileID, StartReg, RegCount);
    ExpectedByteCount += 2 * RegCount + 2;
  }
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Expect(Reply.Byte() == ExpectedByteCount);
    for (int i = 0; i < List.Count(); ++i) {
      TModbusFileRecord& Record = List.Items(i);
      Reply.Expect(Reply.Byte() == 2 * Record.RegCount() + 1);
      Reply.Expect(Reply.Byte() == ReferenceType);
      for (int j = 0; j < Record.RegCount(); ++j) Record.SetRegValue(j, Reply.Word());
    }
  });
  DoFileRecordRead(T.Info, List);
}

void TModbusClient::DoneWriteFileRecord(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const int ByteCount = Query.Byte();
  TModbusFileRecordList List;
  for (int Consumed = 0; Consumed + 7 <= ByteCount;) {
    Query.Byte();  // reference type
    const std::uint16_t FileID = Query.Word();
    const std::uint16_t StartReg = Query.Word();
    const std::uint16_t RegCount = Query.Word();
    TModbusFileRecord& Record = List.Add(FileID, StartReg, RegCount);
    for (int j = 0; j < RegCount; ++j) Record.SetRegValue(j, Query.Word());
    Consumed += 7 + 2 * RegCount;
  }
  CheckReply(T.Info, [&] {
    const int Size = T.QueryBuffer.Size();
    if (T.ReplyBuffer.Size() != Size ||
        !std::equal(T.QueryBuffer.StartPtr(), T.QueryBuffer.StartPtr() + Size,
                    T.ReplyBuffer.StartPtr()))
      InternalError();
  });
  DoFileRecordWrite(T.Info, List);
}

void TModbusClient::DoneMaskWriteSingleRegister(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t RegAddr = Query.Word();
  const std::uint16_t AndMask = Query.Word();
  const std::uint16_t OrMask = Query.Word();
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    Reply.Expect(Reply.Word() == RegAddr);
    Reply.Expect(Reply.Word() == AndMask);
    Reply.Expect(Reply.Word() == OrMask);
  });
  DoSingleRegisterMaskWrite(T.Info, RegAddr, AndMask, OrMask);
}

void TModbusClient::DoneReadWriteMultipleRegisters(TModbusTransaction& T) {
  TFrameReader Query(T.QueryBuffer, *FConnection);
  const std::uint16_t ReadStart = Query.Word();
  const std::uint16_t ReadCount = Query.Word();
  const std::uint16_t WriteStart = Query.Word();
  const std::uint16_t WriteCount = Query.Word();
  Query.Byte();  // byte count
  TRegValues Written(WriteCount, 0);
  for (std::uint16_t& Value : Written) Value = Query.Word();
  TRegValues Read(ReadCount, 0);
  CheckReply(T.Info, [&] {
    TFrameReader Reply(T.ReplyBuffer, *FConnection);
    const int ByteCount = Reply.Byte();
    Reply.Expect(ByteCount / 2 == ReadCount);  // an odd count as for the register reads
    for (std::uint16_t& Value : Read) Value = Reply.Word();
  });
  DoMultipleRegistersReadWrite(T.Info, ReadStart, ReadCount, Read, WriteStart, WriteCount, Written);
}

void TModbusClient::KeepTrackOfConsecutiveTimeouts(const TTransactionInfo& Info) {
  if (FMaxConsecutiveTimeouts < 0) return;
  if (Info.Reply == srUnmatchedReply || Info.Reply == srExceptionReply ||
      Info.Reply == srNormalReply) {
    FConsecutiveTimeoutCount = 0;
    return;
  }
  FConsecutiveTimeoutCount += Info.Retries;
  if (FConsecutiveTimeoutCount > static_cast<std::uint32_t>(FMaxConsecutiveTimeouts)) {
    FConsecutiveTimeoutCount = 0;
    DoConsecutiveTimeoutLimitExceed();
  }
}

// ---- events ----------------------------------------------------------------------------------

void TModbusClient::DoCoilsRead(const TTransactionInfo& Info, std::uint16_t StartBit,
                                std::uint16_t BitCount, const TBitValues& BitValues) {
  if (OnCoilsRead) OnCoilsRead(*this, Info, StartBit, BitCount, BitValues);
}
void TModbusClient::DoConsecutiveTimeoutLimitExceed() {
  if (OnConsecutiveTimeoutLimitExceed) OnConsecutiveTimeoutLimitExceed(*this);
}
void TModbusClient::DoCustomTransactionComplete(const TModbusTransaction& Transaction,
                                                std::uint8_t Command) {
  if (OnCustomTransactionComplete) OnCustomTransactionComplete(*this, Transaction, Command);
}
void TModbusClient::DoDiagnostics(const TTransactionInfo& Info, TDiagnosticAction Action,
                                  std::uint16_t Result) {
  if (OnDiagnostics) OnDiagnostics(*this, Info, Action, Result);
}
void TModbusClient::DoDiscreteInputsRead(const TTransactionInfo& Info, std::uint16_t StartBit,
                                         std::uint16_t BitCount, const TBitValues& BitValues) {
  if (OnDiscreteInputsRead) OnDiscreteInputsRead(*this, Info, StartBit, BitCount, BitValues);
}
void TModbusClient::DoExceptionStatusRead(const TTransactionInfo& Info,
                                          const TExceptionStatusValues& StatusValues) {
  if (OnExceptionStatusRead) OnExceptionStatusRead(*this, Info, StatusValues);
}
void TModbusClient::DoFileRecordRead(const TTransactionInfo& Info,
                                     const TModbusFileRecordList& List) {
  if (OnFileRecordRead) OnFileRecordRead(*this, Info, List);
}
void TModbusClient::DoFileRecordWrite(const TTransactionInfo& Info,
                                      const TModbusFileRecordList& List) {
  if (OnFileRecordWrite) OnFileRecordWrite(*this, Info, List);
}
void TModbusClient::DoHoldingRegistersRead(const TTransactionInfo& Info, std::uint16_t StartReg,
                                           std::uint16_t RegCount, const TRegValues& RegValues) {
  if (OnHoldingRegistersRead) OnHoldingRegistersRead(*this, Info, StartReg, RegCount, RegValues);
}
void TModbusClient::DoInputRegistersRead(const TTransactionInfo& Info, std::uint16_t StartReg,
                                         std::uint16_t RegCount, const TRegValues& RegValues) {
  if (OnInputRegistersRead) OnInputRegistersRead(*this, Info, StartReg, RegCount, RegValues);
}
void TModbusClient::DoMultipleCoilsWrite(const TTransactionInfo& Info, std::uint16_t StartBit,
                                         std::uint16_t BitCount, const TBitValues& BitValues) {
  if (OnMultipleCoilsWrite) OnMultipleCoilsWrite(*this, Info, StartBit, BitCount, BitValues);
}
void TModbusClient::DoMultipleRegistersReadWrite(
    const TTransactionInfo& Info, std::uint16_t StartRegToRead, std::uint16_t RegCountToRead,
    const TRegValues& RegValuesToRead, std::uint16_t StartRegToWrite, std::uint16_t RegCountToWrite,
    const TRegValues& RegValuesToWrite) {
  if (OnMultipleRegistersReadWrite)
    OnMultipleRegistersReadWrite(*this, Info, StartRegToRead, RegCountToRead, RegValuesToRead,
                                 StartRegToWrite, RegCountToWrite, RegValuesToWrite);
}
void TModbusClient::DoMultipleRegistersWrite(const TTransactionInfo& Info, std::uint16_t StartReg,
                                             std::uint16_t RegCount, const TRegValues& RegValues) {
  if (OnMultipleRegistersWrite)
    OnMultipleRegistersWrite(*this, Info, StartReg, RegCount, RegValues);
}
void TModbusClient::DoServerIdentificationReport(const TTransactionInfo& Info, std::int32_t Count,
                                                 const TServerIdentificationData& Data) {
  if (OnServerIdentificationReport) OnServerIdentificationReport(*this, Info, Count, Data);
}
void TModbusClient::DoSingleCoilWrite(const TTransactionInfo& Info, std::uint16_t BitAddr,
                                      bool BitValue) {
  if (OnSingleCoilWrite) OnSingleCoilWrite(*this, Info, BitAddr, BitValue);
}
void TModbusClient::DoSingleRegisterMaskWrite(const TTransactionInfo& Info, std::uint16_t RegAddr,
                                              std::uint16_t AndMask, std::uint16_t OrMask) {
  if (OnSingleRegisterMaskWrite) OnSingleRegisterMaskWrite(*this, Info, RegAddr, AndMask, OrMask);
}
void TModbusClient::DoSingleRegisterWrite(const TTransactionInfo& Info, std::uint16_t RegAddr,
                                          std::uint16_t RegValue) {
  if (OnSingleRegisterWrite) OnSingleRegisterWrite(*this, Info, RegAddr, RegValue);
}
void TModbusClient::DoTransactionProcessed(const TTransactionInfo& Info, std::uint8_t Command,
                                           bool Custom) {
  if (OnTransactionProcessed) OnTransactionProcessed(*this, Info, Command, Custom);
}
void TModbusClient::DoTranslateExceptionCode(std::uint8_t ExceptionCode, std::string& Description) {
  if (OnTranslateExceptionCode) OnTranslateExceptionCode(*this, ExceptionCode, Description);
}
