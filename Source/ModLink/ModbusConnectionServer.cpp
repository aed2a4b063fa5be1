// The connection's server side: handing received queries to the registered servers, and
// the broadcast writes a master sends to address 0 without a client.
#include <memory>

#include "BitPacking.h"
#include "ModLinkConsts.h"
#include "ModbusConnection.h"
#include "ModbusServer.h"
#include "RequestRangeChecks.h"

TModbusServer* TModbusConnection::FindServerFromServerAddress(std::uint8_t Address) const {
  for (TModbusServer* Server : FServerList)
    if (Server->Address() == Address) return Server;
  return nullptr;
}

void TModbusConnection::ProcessRemoteTransaction(TModbusTransaction& Transaction) {
  if (Transaction.Info.Address != BroadcastAddress) {
    if (TModbusServer* Server = FindServerFromServerAddress(Transaction.Info.Address))
      Server->ProcessTransaction(Transaction);
    return;
  }
  // Every server takes a broadcast, in registration order. Indexing the live list keeps
  // this safe when a handler detaches a server meanwhile.
  for (std::size_t I = 0; I < FServerList.size(); ++I)
    FServerList[I]->ProcessTransaction(Transaction);
}

namespace {

// Makes a broadcast transaction, lets Build write the function code and data after the
// address byte, adds the error check and queues it. Returns the transaction's ID.
template <typename TBuild>
std::uint32_t QueueBroadcast(TModbusConnection& Connection, void* UserData, TBuild Build) {
  auto Transaction = std::make_unique<TModbusTransaction>(Connection.DetermineMaximumFrameSize());
  Transaction->Info.ID = Connection.GetNextUniqueID();
  Transaction->Info.Address = BroadcastAddress;
  Transaction->Info.UserData = UserData;
  TModbusBuffer& Query = Transaction->QueryBuffer;
  Connection.EmitHeader(static_cast<const TModbusClient*>(nullptr), Query);
  Build(Query);
  Connection.EmitErrorCheck(Query);
  const std::uint32_t ID = Transaction->Info.ID;
  Connection.EnqueueTransaction(std::move(Transaction), nullptr);
  return ID;
}

}  // namespace

std::uint32_t TModbusConnection::WriteSingleCoil(std::uint16_t BitAddr, bool BitValue,
                                                 void* UserData) {
  CheckOpened();
  return QueueBroadcast(*this, UserData, [&](TModbusBuffer& Query) {
    Query.PutByte(Cmd_WriteSingleCoil);
    Query.PutWordHiLo(BitAddr);
    Query.PutWordHiLo(BitValue ? CoilOn : CoilOff);
  });
}

std::uint32_t TModbusConnection::WriteSingleRegister(std::uint16_t RegAddr, std::uint16_t RegValue,
                                                     void* UserData) {
  CheckOpened();
  return QueueBroadcast(*this, UserData, [&](TModbusBuffer& Query) {
    Query.PutByte(Cmd_WriteSingleRegister);
    Query.PutWordHiLo(RegAddr);
    Query.PutWordHiLo(RegValue);
  });
}

std::uint32_t TModbusConnection::WriteMultipleCoils(std::uint16_t StartBit,
                                                    const std::vector<bool>& BitValues,
                                                    void* UserData) {
  CheckOpened();
  const auto Count = static_cast<int>(BitValues.size());
  CheckBitRange(StartBit, Count, MaxWriteBitCount);
  return QueueBroadcast(*this, UserData, [&](TModbusBuffer& Query) {
    Query.PutByte(Cmd_WriteMultipleCoils);
    Query.PutWordHiLo(StartBit);
    Query.PutWordHiLo(static_cast<std::uint16_t>(Count));
    Query.PutByte(static_cast<std::uint8_t>(DetermineEncodedSize(Count)));
    EncodeBits(BitValues, Query);
  });
}

std::uint32_t TModbusConnection::WriteMultipleRegisters(std::uint16_t StartReg,
                                                        const std::vector<std::uint16_t>& RegValues,
                                                        void* UserData) {
  CheckOpened();
  const auto Count = static_cast<int>(RegValues.size());
  CheckRegisterRange(StartReg, Count, MaxWriteRegisterCount);
  return QueueBroadcast(*this, UserData, [&](TModbusBuffer& Query) {
    Query.PutByte(Cmd_WriteMultipleRegisters);
    Query.PutWordHiLo(StartReg);
    Query.PutWordHiLo(static_cast<std::uint16_t>(Count));
    Query.PutByte(static_cast<std::uint8_t>(2 * Count));
    for (const std::uint16_t Value : RegValues) Query.PutWordHiLo(Value);
  });
}
