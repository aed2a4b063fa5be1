#include "DcbFlags.h"

std::uint32_t DcbFlags(const TLineSettings& Settings) {
  std::uint32_t Flags = DcbFlag::Binary;
  if (Settings.Parity != 'N') Flags |= DcbFlag::Parity;
  if (Settings.RtsCtsFlowControl) Flags |= DcbFlag::OutxCtsFlow | DcbFlag::RtsControlHandshake;
  if (Settings.DtrDsrFlowControl) Flags |= DcbFlag::OutxDsrFlow | DcbFlag::DtrControlHandshake;
  if (Settings.RaiseRTS && !Settings.RtsCtsFlowControl) Flags |= DcbFlag::RtsControlEnable;
  if (Settings.RaiseDTR && !Settings.DtrDsrFlowControl) Flags |= DcbFlag::DtrControlEnable;
  return Flags;
}

std::uint8_t DcbParity(char Parity) {
  return Parity == 'O' ? 1 : Parity == 'E' ? 2 : 0;
}

std::uint8_t DcbStopBits(int StopBits) {
  return StopBits == 2 ? 2 : 0;
}
