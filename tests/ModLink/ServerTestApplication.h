// A stand-in for the application behind a TModbusServer: four tables of 65536 items, items
// the application refuses to read or write, items whose handlers fail, and a log of every
// write, so tests can tell what reached the application and in which order.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "ModbusServer.h"

namespace serialtest {

class TFakeApplication {
 public:
  TFakeApplication() {
    for (std::size_t I = 0; I < Holding.size(); ++I) {
      Holding[I] = static_cast<std::uint16_t>(0x1000 + I);
      Inputs[I] = static_cast<std::uint16_t>(0x8000 ^ I);
      Coils[I] = (I % 3) == 0;
      Discretes[I] = (I % 5) == 1;
    }
  }

  // Every command accepted unless listed; every item readable and writable unless listed.
  std::set<std::uint8_t> RefusedCommands;
  std::set<std::uint16_t> UnreadableItems;
  std::map<std::uint16_t, TItemWriteStatus> WriteRefusals;
  std::set<std::uint16_t> FailingItems;  // Get/Set handlers raise for these

  std::array<bool, 65536> Coils{};
  std::array<bool, 65536> Discretes{};
  std::array<std::uint16_t, 65536> Holding{};
  std::array<std::uint16_t, 65536> Inputs{};

  std::vector<std::pair<std::uint16_t, bool>> CoilWrites;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> RegisterWrites;
  std::vector<std::tuple<std::uint8_t, TServerException, std::uint8_t>> HandlerExceptions;
  std::vector<std::uint8_t> AcceptAsked;
  int ReadsAsked = 0;
  int ValuesFetched = 0;

  void Attach(TModbusServer& Server) {
    Server.OnAcceptCommand = [this](TModbusServer&, std::uint8_t Command, bool& Accept) {
      AcceptAsked.push_back(Command);
      Accept = RefusedCommands.count(Command) == 0;
    };
    auto CanRead = [this](TModbusServer&, std::uint16_t Item, bool& Allow) {
      ++ReadsAsked;
      Allow = UnreadableItems.count(Item) == 0;
    };
    Server.OnCanReadCoil = CanRead;
    Server.OnCanReadDiscreteInput = CanRead;
    Server.OnCanReadHoldingRegister = CanRead;
    Server.OnCanReadInputRegister = CanRead;
    Server.OnCanWriteCoil = [this](TModbusServer&, std::uint16_t Item, bool,
                                   TItemWriteStatus& Status) { Status = WriteStatus(Item); };
    Server.OnCanWriteHoldingRegister = [this](TModbusServer&, std::uint16_t Item, std::uint16_t,
                                              TItemWriteStatus& Status) {
      Status = WriteStatus(Item);
    };
    Server.OnCommandHandlerException = [this](TModbusServer&, std::uint8_t Command,
                                              TServerException Exception, std::uint8_t Code) {
      HandlerExceptions.emplace_back(Command, Exception, Code);
    };
    Server.OnGetCoilValue = [this](TModbusServer&, std::uint16_t Item, bool& Value) {
      Fetch(Item);
      Value = Coils[Item];
    };
    Server.OnGetDiscreteInputValue = [this](TModbusServer&, std::uint16_t Item, bool& Value) {
      Fetch(Item);
      Value = Discretes[Item];
    };
    Server.OnGetHoldingRegisterValue = [this](TModbusServer&, std::uint16_t Item,
                                              std::uint16_t& Value) {
      Fetch(Item);
      Value = Holding[Item];
    };
    Server.OnGetInputRegisterValue = [this](TModbusServer&, std::uint16_t Item,
                                            std::uint16_t& Value) {
      Fetch(Item);
      Value = Inputs[Item];
    };
    Server.OnSetCoilValue = [this](TModbusServer&, std::uint16_t Item, bool Value) {
      if (FailingItems.count(Item)) throw std::runtime_error("coil store failed");
      Coils[Item] = Value;
      CoilWrites.emplace_back(Item, Value);
    };
    Server.OnSetHoldingRegisterValue = [this](TModbusServer&, std::uint16_t Item,
                                              std::uint16_t Value) {
      if (FailingItems.count(Item)) throw std::runtime_error("register store failed");
      Holding[Item] = Value;
      RegisterWrites.emplace_back(Item, Value);
    };
  }

 private:
  TItemWriteStatus WriteStatus(std::uint16_t Item) const {
    const auto Found = WriteRefusals.find(Item);
    return Found == WriteRefusals.end() ? iwsAllowWrite : Found->second;
  }
  void Fetch(std::uint16_t Item) {
    ++ValuesFetched;
    if (FailingItems.count(Item)) throw std::runtime_error("value fetch failed");
  }
};

}  // namespace serialtest
