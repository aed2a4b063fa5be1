// The requesting (master) side of the serial Modbus library. A client is bound to one
// connection and addressed to one server. Each request method checks its arguments, builds
// the query in a new transaction, queues it on the connection and returns the transaction's
// identifier at once; when the worker thread has finished with it, the connection calls
// DoneTransaction on the user-interface thread, which checks and decodes the reply and raises
// exactly one result event.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ModbusFileRecord.h"
#include "ModbusTransaction.h"
#include "ModbusValueTypes.h"

class TModbusConnection;

enum TDiagnosticAction : std::uint8_t {
  daReturnQueryData,
  daRestartCommsOption,
  daRestartCommsOptionAndClearEventLog,
  daReturnDiagnosticRegister,
  daForceListenOnlyMode,
  daClearCountersAndDiagnosticRegister,
  daReturnBusMessageCount,
  daReturnBusCommErrorCount,
  daReturnBusExceptionErrorCount,
  daReturnServerMessageCount,
  daReturnServerNoReplyCount,
  daReturnServerNegativeAcknowledgeCount,
  daReturnServerBusyCount,
  daReturnBusCharacterOverrunCount,
  daClearOverrunCounterAndFlag
};

class TModbusClient;

using TMultipleBitsAccessEvent =
    std::function<void(TModbusClient& Sender, const TTransactionInfo& Info, std::uint16_t StartBit,
                       std::uint16_t BitCount, const TBitValues& BitValues)>;
using TSingleCoilWriteEvent = std::function<void(
    TModbusClient& Sender, const TTransactionInfo& Info, std::uint16_t BitAddr, bool BitValue)>;
using TMultipleRegistersAccessEvent =
    std::function<void(TModbusClient& Sender, const TTransactionInfo& Info, std::uint16_t StartReg,
                       std::uint16_t RegCount, const TRegValues& RegValues)>;
using TSingleRegisterWriteEvent =
    std::function<void(TModbusClient& Sender, const TTransactionInfo& Info, std::uint16_t RegAddr,
                       std::uint16_t RegValue)>;
using TSingleRegisterMaskWriteEvent =
    std::function<void(TModbusClient& Sender, const TTransactionInfo& Info, std::uint16_t RegAddr,
                       std::uint16_t AndMask, std::uint16_t OrMask)>;
using TMultipleRegistersReadWriteEvent = std::function<void(
    TModbusClient& Sender, const TTransactionInfo& Info, std::uint16_t StartRegToRead,
    std::uint16_t RegCountToRead, const TRegValues& RegValuesToRead, std::uint16_t StartRegToWrite,
    std::uint16_t RegCountToWrite, const TRegValues& RegValuesToWrite)>;
using TFileRecordAccessEvent = std::function<void(
    TModbusClient& Sender, const TTransactionInfo& Info, const TModbusFileRecordList& FileRecList)>;
using TExceptionStatusReadEvent =
    std::function<void(TModbusClient& Sender, const TTransactionInfo& Info,
                       const TExceptionStatusValues& StatusValues)>;
using TServerIdentificationReportEvent =
    std::function<void(TModbusClient& Sender, const TTransactionInfo& Info, std::int32_t Count,
                       const TServerIdentificationData& Data)>;
using TDiagnosticsEvent = std::function<void(TModbusClient& Sender, const TTransactionInfo& Info,
                                             TDiagnosticAction Action, std::uint16_t Result)>;
using TCustomTransactionCompleteEvent = std::function<void(
    TModbusClient& Sender, const TModbusTransaction& Transaction, std::uint8_t Command)>;
using TTransactionProcessedEvent = std::function<void(
    TModbusClient& Sender, const TTransactionInfo& Info, std::uint8_t Command, bool Custom)>;
using TTranslateExceptionCodeEvent = std::function<void(
    TModbusClient& Sender, std::uint8_t ExceptionCode, std::string& Description)>;
using TModbusClientNotifyEvent = std::function<void(TModbusClient& Sender)>;

class TModbusClient {
 public:
  TModbusClient() = default;
  virtual ~TModbusClient();  // detaches from the connection
  TModbusClient(const TModbusClient&) = delete;
  TModbusClient& operator=(const TModbusClient&) = delete;

  // Requests. Each needs an active connection ("There is no active connection"), checks its
  // arguments (EModLinkError, nothing queued) and returns the new transaction's ID.
  std::uint32_t ReadCoils(std::uint16_t StartBit, std::uint16_t BitCount, void* UserData = nullptr);
  std::uint32_t ReadDiscreteInputs(std::uint16_t StartBit, std::uint16_t BitCount,
                                   void* UserData = nullptr);
  std::uint32_t ReadHoldingRegisters(std::uint16_t StartReg, std::uint16_t RegCount,
                                     void* UserData = nullptr);
  std::uint32_t ReadInputRegisters(std::uint16_t StartReg, std::uint16_t RegCount,
                                   void* UserData = nullptr);
  std::uint32_t WriteSingleCoil(std::uint16_t BitAddr, bool BitValue, void* UserData = nullptr);
  std::uint32_t WriteSingleRegister(std::uint16_t RegAddr, std::uint16_t RegValue,
                                    void* UserData = nullptr);
  std::uint32_t ReadExceptionStatus(void* UserData = nullptr);
  std::uint32_t Diagnostics(TDiagnosticAction Action, void* UserData = nullptr);
  std::uint32_t WriteMultipleCoils(std::uint16_t StartBit, const TBitValues& BitValues,
                                   void* UserData = nullptr);
  std::uint32_t WriteMultipleRegisters(std::uint16_t StartReg, const TRegValues& RegValues,
                                       void* UserData = nullptr);
  std::uint32_t ReportServerID(void* UserData = nullptr);
  std::uint32_t ReadFileRecord(const TModbusFileRecordList& FileRecList, void* UserData = nullptr);
  std::uint32_t WriteFileRecord(const TModbusFileRecordList& FileRecList, void* UserData = nullptr);
  std::uint32_t MaskWriteSingleRegister(std::uint16_t RegAddr, std::uint16_t AndMask,
                                        std::uint16_t OrMask, void* UserData = nullptr);
  std::uint32_t ReadWriteMultipleRegisters(std::uint16_t StartRegToRead,
                                           std::uint16_t RegCountToRead,
                                           std::uint16_t StartRegToWrite,
                                           const TRegValues& RegValuesToWrite,
                                           void* UserData = nullptr);
  std::uint32_t InitCustomTransaction(std::uint8_t Command,
                                      const std::vector<std::uint8_t>& RequestData,
                                      bool PromiscuousMode = false, void* UserData = nullptr);

  // Called by the connection on the user-interface thread for each finished transaction this
  // client originated; the connection frees the transaction afterwards.
  void DoneTransaction(TModbusTransaction& Transaction);

  // The exception's text, as the application may have translated it.
  std::string ExceptionCodeToStr(std::uint8_t ExceptionCode);

  TModbusConnection* Connection() const { return FConnection; }
  // Unregisters from the old connection and registers with the new one.
  void SetConnection(TModbusConnection* Value);
  // Called by a connection that is being destroyed: the client forgets it.
  void ConnectionDestroyed(TModbusConnection* AConnection);

  std::uint8_t ServerAddress() const { return FServerAddress; }
  // A new address first drops this client's queued transactions: their replies would be
  // dropped on arrival anyway.
  void SetServerAddress(std::uint8_t Value);

  std::int32_t MaxConsecutiveTimeouts() const { return FMaxConsecutiveTimeouts; }
  // Values below -1 become -1 (counting off); a change clears the counter.
  void SetMaxConsecutiveTimeouts(std::int32_t Value);
  std::uint32_t ConsecutiveTimeoutCount() const { return FConsecutiveTimeoutCount; }
  void ClearConsecutiveTimeoutCounter() { FConsecutiveTimeoutCount = 0; }

  TMultipleBitsAccessEvent OnCoilsRead;
  TMultipleBitsAccessEvent OnDiscreteInputsRead;
  TMultipleBitsAccessEvent OnMultipleCoilsWrite;
  TSingleCoilWriteEvent OnSingleCoilWrite;
  TMultipleRegistersAccessEvent OnHoldingRegistersRead;
  TMultipleRegistersAccessEvent OnInputRegistersRead;
  TMultipleRegistersAccessEvent OnMultipleRegistersWrite;
  TSingleRegisterWriteEvent OnSingleRegisterWrite;
  TSingleRegisterMaskWriteEvent OnSingleRegisterMaskWrite;
  TMultipleRegistersReadWriteEvent OnMultipleRegistersReadWrite;
  TFileRecordAccessEvent OnFileRecordRead;
  TFileRecordAccessEvent OnFileRecordWrite;
  TExceptionStatusReadEvent OnExceptionStatusRead;
  TServerIdentificationReportEvent OnServerIdentificationReport;
  TDiagnosticsEvent OnDiagnostics;
  TCustomTransactionCompleteEvent OnCustomTransactionComplete;
  TTransactionProcessedEvent OnTransactionProcessed;
  TTranslateExceptionCodeEvent OnTranslateExceptionCode;
  TModbusClientNotifyEvent OnConsecutiveTimeoutLimitExceed;

 protected:
  virtual void DoCoilsRead(const TTransactionInfo& Info, std::uint16_t StartBit,
                           std::uint16_t BitCount, const TBitValues& BitValues);
  virtual void DoConsecutiveTimeoutLimitExceed();
  virtual void DoCustomTransactionComplete(const TModbusTransaction& Transaction,
                                           std::uint8_t Command);
  virtual void DoDiagnostics(const TTransactionInfo& Info, TDiagnosticAction Action,
                             std::uint16_t Result);
  virtual void DoDiscreteInputsRead(const TTransactionInfo& Info, std::uint16_t StartBit,
                                    std::uint16_t BitCount, const TBitValues& BitValues);
  virtual void DoExceptionStatusRead(const TTransactionInfo& Info,
                                     const TExceptionStatusValues& StatusValues);
  virtual void DoFileRecordRead(const TTransactionInfo& Info, const TModbusFileRecordList& List);
  virtual void DoFileRecordWrite(const TTransactionInfo& Info, const TModbusFileRecordList& List);
  virtual void DoHoldingRegistersRead(const TTransactionInfo& Info, std::uint16_t StartReg,
                                      std::uint16_t RegCount, const TRegValues& RegValues);
  virtual void DoInputRegistersRead(const TTransactionInfo& Info, std::uint16_t StartReg,
                                    std::uint16_t RegCount, const TRegValues& RegValues);
  virtual void DoMultipleCoilsWrite(const TTransactionInfo& Info, std::uint16_t StartBit,
                                    std::uint16_t BitCount, const TBitValues& BitValues);
  virtual void DoMultipleRegistersReadWrite(
      const TTransactionInfo& Info, std::uint16_t StartRegToRead, std::uint16_t RegCountToRead,
      const TRegValues& RegValuesToRead, std::uint16_t StartRegToWrite,
      std::uint16_t RegCountToWrite, const TRegValues& RegValuesToWrite);
  virtual void DoMultipleRegistersWrite(const TTransactionInfo& Info, std::uint16_t StartReg,
                                        std::uint16_t RegCount, const TRegValues& RegValues);
  virtual void DoServerIdentificationReport(const TTransactionInfo& Info, std::int32_t Count,
                                            const TServerIdentificationData& Data);
  virtual void DoSingleCoilWrite(const TTransactionInfo& Info, std::uint16_t BitAddr,
                                 bool BitValue);
  virtual void DoSingleRegisterMaskWrite(const TTransactionInfo& Info, std::uint16_t RegAddr,
                                         std::uint16_t AndMask, std::uint16_t OrMask);
  virtual void DoSingleRegisterWrite(const TTransactionInfo& Info, std::uint16_t RegAddr,
                                     std::uint16_t RegValue);
  virtual void DoTransactionProcessed(const TTransactionInfo& Info, std::uint8_t Command,
                                      bool Custom);
  virtual void DoTranslateExceptionCode(std::uint8_t ExceptionCode, std::string& Description);

 private:
  void CheckConnected() const;
  TModbusTransactionPtr NewTransaction(void* UserData);
  std::uint32_t Enqueue(TModbusTransactionPtr Transaction);
  std::uint32_t EnqueueRangeRead(std::uint8_t Command, std::uint16_t Start, std::uint16_t Count,
                                 void* UserData);

  void DonePublicTransaction(TModbusTransaction& T, std::uint8_t Command);
  void DoneCustomTransaction(TModbusTransaction& T, std::uint8_t Command);
  void DoneReadDiscreteBits(TModbusTransaction& T, bool Coils);
  void DoneReadModbusRegisters(TModbusTransaction& T, bool Holding);
  void DoneWriteSingleCoil(TModbusTransaction& T);
  void DoneWriteSingleRegister(TModbusTransaction& T);
  void DoneReadExceptionStatus(TModbusTransaction& T);
  void DoneDiagnostics(TModbusTransaction& T);
  void DoneWriteMultipleCoils(TModbusTransaction& T);
  void DoneWriteMultipleRegisters(TModbusTransaction& T);
  void DoneReportServerID(TModbusTransaction& T);
  void DoneReadFileRecord(TModbusTransaction& T);
  void DoneWriteFileRecord(TModbusTransaction& T);
  void DoneMaskWriteSingleRegister(TModbusTransaction& T);
  void DoneReadWriteMultipleRegisters(TModbusTransaction& T);
  void KeepTrackOfConsecutiveTimeouts(const TTransactionInfo& Info);

  TModbusConnection* FConnection = nullptr;
  std::uint32_t FConsecutiveTimeoutCount = 0;
  std::int32_t FMaxConsecutiveTimeouts = -1;
  std::uint8_t FServerAddress = 1;
};
