// A Modbus slave on a serial connection. The library stores no coil or register itself:
// every query addressed to the server is answered by asking the application, through
// events, whether an item may be read or written and what its value is.
#pragma once

#include <cstdint>
#include <functional>

#include "ModbusTransaction.h"
#include "ModbusValueTypes.h"

class TModbusBuffer;
class TModbusConnection;

// The application's answer to "may this item be written with this value?".
enum TItemWriteStatus : std::uint8_t { iwsIllegalAddress, iwsIllegalValue, iwsAllowWrite };

class TModbusServer;

using TAcceptCommandEvent =
    std::function<void(TModbusServer& Sender, std::uint8_t Command, bool& Accept)>;
using TCanReadDiscreteBitEvent =
    std::function<void(TModbusServer& Sender, std::uint16_t BitAddr, bool& Allow)>;
using TCanReadRegisterEvent =
    std::function<void(TModbusServer& Sender, std::uint16_t RegAddr, bool& Allow)>;
using TCanWriteCoilEvent = std::function<void(TModbusServer& Sender, std::uint16_t BitAddr,
                                              bool BitValue, TItemWriteStatus& Status)>;
using TCanWriteRegisterEvent =
    std::function<void(TModbusServer& Sender, std::uint16_t RegAddr, std::uint16_t RegValue,
                       TItemWriteStatus& Status)>;
using TCommandHandlerExceptionEvent =
    std::function<void(TModbusServer& Sender, std::uint8_t Command, TServerException Exception,
                       std::uint8_t ExceptionCode)>;
using TGetDiscreteBitValueEvent =
    std::function<void(TModbusServer& Sender, std::uint16_t BitAddr, bool& BitValue)>;
using TGetRegisterValueEvent =
    std::function<void(TModbusServer& Sender, std::uint16_t RegAddr, std::uint16_t& RegValue)>;
using TSetCoilValueEvent =
    std::function<void(TModbusServer& Sender, std::uint16_t BitAddr, bool BitValue)>;
using TSetRegisterValueEvent =
    std::function<void(TModbusServer& Sender, std::uint16_t RegAddr, std::uint16_t RegValue)>;

class TModbusServer {
 public:
  // The function codes this server can process (Read Coils .. Write Multiple Registers).
  static bool IsSupportedCommand(std::uint8_t Command);

  TModbusServer() = default;
  virtual ~TModbusServer();
  TModbusServer(const TModbusServer&) = delete;
  TModbusServer& operator=(const TModbusServer&) = delete;

  std::uint8_t Address() const { return FAddress; }
  void SetAddress(std::uint8_t Value);  // 1 .. 247
  TModbusConnection* Connection() const { return FConnection; }
  void SetConnection(TModbusConnection* Value);
  // Called by a connection that is being destroyed: the server forgets it without
  // unregistering, since the connection's lists are going away.
  void ConnectionDestroyed(TModbusConnection& AConnection);

  void CheckConnected() const;
  void CheckActiveTransaction() const;

  // Answers one query into Transaction.ReplyBuffer. User-interface thread only.
  void ProcessTransaction(TModbusTransaction& Transaction);

  // For use inside the event handlers: answer the query being processed with an exception
  // reply instead of the normal one.
  void EmitExceptionReply(TServerException Exception);
  // Empties Buffer, writes an exception reply for Command and raises OnCommandHandlerException.
  void BuildExceptionReply(TModbusBuffer& Buffer, std::uint8_t Command, TServerException Exception);
  void CommandNotSupported();

  // Events. Each in-out argument is preset to the result used when no handler is set.
  TAcceptCommandEvent OnAcceptCommand;
  TCanReadDiscreteBitEvent OnCanReadCoil;
  TCanReadDiscreteBitEvent OnCanReadDiscreteInput;
  TCanReadRegisterEvent OnCanReadHoldingRegister;
  TCanReadRegisterEvent OnCanReadInputRegister;
  TCanWriteCoilEvent OnCanWriteCoil;
  TCanWriteRegisterEvent OnCanWriteHoldingRegister;
  TCommandHandlerExceptionEvent OnCommandHandlerException;
  TGetDiscreteBitValueEvent OnGetCoilValue;
  TGetDiscreteBitValueEvent OnGetDiscreteInputValue;
  TGetRegisterValueEvent OnGetHoldingRegisterValue;
  TGetRegisterValueEvent OnGetInputRegisterValue;
  TSetCoilValueEvent OnSetCoilValue;
  TSetRegisterValueEvent OnSetHoldingRegisterValue;

 protected:
  virtual bool DoAcceptCommand(std::uint8_t Command);
  virtual bool DoCanReadCoil(std::uint16_t BitAddr);
  virtual bool DoCanReadDiscreteInput(std::uint16_t BitAddr);
  virtual bool DoCanReadHoldingRegister(std::uint16_t RegAddr);
  virtual bool DoCanReadInputRegister(std::uint16_t RegAddr);
  virtual TItemWriteStatus DoCanWriteCoil(std::uint16_t BitAddr, bool BitValue);
  virtual TItemWriteStatus DoCanWriteHoldingRegister(std::uint16_t RegAddr, std::uint16_t RegValue);
  virtual void DoCommandHandlerException(std::uint8_t Command, TServerException Exception,
                                         std::uint8_t ExceptionCode);
  virtual bool DoGetCoilValue(std::uint16_t BitAddr);
  virtual bool DoGetDiscreteInputValue(std::uint16_t BitAddr);
  virtual std::uint16_t DoGetHoldingRegisterValue(std::uint16_t RegAddr);
  virtual std::uint16_t DoGetInputRegisterValue(std::uint16_t RegAddr);
  virtual void DoSetCoilValue(std::uint16_t BitAddr, bool BitValue);
  virtual void DoSetHoldingRegisterValue(std::uint16_t RegAddr, std::uint16_t RegValue);

 private:
  class TQueryReader;
  enum class TItemKind : std::uint8_t { Coil, DiscreteInput, HoldingRegister, InputRegister };

  void ProcessReadBits(std::uint8_t Command, TItemKind Kind);
  void ProcessReadRegisters(std::uint8_t Command, TItemKind Kind);
  void ProcessWriteSingleCoil();
  void ProcessWriteSingleRegister();
  void ProcessWriteMultipleCoils();
  void ProcessWriteMultipleRegisters();

  TQueryReader MakeQueryReader() const;
  bool AcceptReadRange(std::uint8_t Command, TItemKind Kind, int Limit, std::uint16_t& First,
                       std::uint16_t& Count);
  bool CanRead(TItemKind Kind, std::uint16_t Item);
  bool AcceptWriteRange(std::uint8_t Command, int Limit, int BytesPerItem, TQueryReader& Reader,
                        std::uint16_t& First, std::uint16_t& Count);
  bool WriteAllowed(std::uint8_t Command, TItemWriteStatus Status);
  template <typename TValues, typename TCanWrite, typename TSet>
  void WriteItems(std::uint8_t Command, std::uint16_t First, const TValues& Values,
                  TCanWrite CanWrite, TSet Set);

  bool IsBroadcast() const;
  bool ReplyIsEmpty() const;
  void ReplyException(std::uint8_t Command, TServerException Exception);
  void ReplyExceptionUnlessBroadcast(std::uint8_t Command, TServerException Exception);
  void StartReply(std::uint8_t Command);
  void FinishReply();
  // The connection's error check, unless the active transaction carries a bare PDU.
  void EmitErrorCheck(TModbusBuffer& Buffer);

  TRegValues FRegisterScratch;                       // the values of one register read
  TModbusTransaction* FActiveTransaction = nullptr;  // set only while ProcessTransaction runs
  std::uint8_t FAddress = 1;
  TModbusConnection* FConnection = nullptr;
};
