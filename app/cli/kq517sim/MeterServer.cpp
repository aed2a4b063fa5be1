#include "MeterServer.h"

#include "ModLinkConsts.h"

bool TMeterServer::DoAcceptCommand(std::uint8_t Command) {
  if (Command != Cmd_ReadHoldingRegisters && Command != Cmd_ReadInputRegisters &&
      Command != Cmd_WriteSingleRegister && Command != Cmd_WriteMultipleRegisters)
    return false;
  // Once per query, so that every register of one reply belongs to the same moment.
  FRegisters.Refresh();
  return true;
}

bool TMeterServer::DoCanReadHoldingRegister(std::uint16_t RegAddr) {
  return FRegisters.CanRead(RegAddr);
}

bool TMeterServer::DoCanReadInputRegister(std::uint16_t RegAddr) {
  return FRegisters.CanRead(RegAddr);
}

std::uint16_t TMeterServer::DoGetHoldingRegisterValue(std::uint16_t RegAddr) {
  return FRegisters.Value(RegAddr);
}

std::uint16_t TMeterServer::DoGetInputRegisterValue(std::uint16_t RegAddr) {
  return FRegisters.Value(RegAddr);
}

TItemWriteStatus TMeterServer::DoCanWriteHoldingRegister(std::uint16_t RegAddr, std::uint16_t) {
  return FRegisters.CanWrite(RegAddr) ? iwsAllowWrite : iwsIllegalAddress;
}

void TMeterServer::DoSetHoldingRegisterValue(std::uint16_t RegAddr, std::uint16_t RegValue) {
  FRegisters.Write(RegAddr, RegValue);
}
