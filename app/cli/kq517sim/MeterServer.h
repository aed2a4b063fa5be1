#pragma once
// The simulated meter as a Modbus slave of the serial library: it accepts
// Read Holding Registers and Read Input Registers, which both read the meter's
// registers, Write Single Register and Write Multiple Registers on the
// registers of the map, and refuses every other function. The library's
// server applies the request rules (counts, address range, exception
// replies), so the serial line and the TCP front ends answer alike.

#include "MeterRegisters.h"
#include "ModbusServer.h"

class TMeterServer : public TModbusServer {
 public:
  explicit TMeterServer(TMeterRegisters& registers) : FRegisters(registers) {}

 protected:
  bool DoAcceptCommand(std::uint8_t Command) override;
  bool DoCanReadHoldingRegister(std::uint16_t RegAddr) override;
  bool DoCanReadInputRegister(std::uint16_t RegAddr) override;
  std::uint16_t DoGetHoldingRegisterValue(std::uint16_t RegAddr) override;
  std::uint16_t DoGetInputRegisterValue(std::uint16_t RegAddr) override;
  // A register outside the map, or any under --read-only, answers exception 2.
  TItemWriteStatus DoCanWriteHoldingRegister(std::uint16_t RegAddr,
                                             std::uint16_t RegValue) override;
  void DoSetHoldingRegisterValue(std::uint16_t RegAddr, std::uint16_t RegValue) override;

 private:
  TMeterRegisters& FRegisters;
};
