#include "SerialLine.h"

#include <algorithm>

#include "ModbusConnection.h"
#include "platform/TcpStream.h"

std::uint32_t BitsPerSecond(TBaudRate BaudRate) {
  return IsValid(BaudRate) ? CBaudRates[BaudRate] : 0;
}

TBaudRate BaudRateFor(std::uint32_t BitsPerSecond) {
  const auto listed = std::find(CBaudRates.begin(), CBaudRates.end() - 1, BitsPerSecond);
  return listed != CBaudRates.end() - 1 ? static_cast<TBaudRate>(listed - CBaudRates.begin())
                                        : brCustom;
}

void SetBitRate(TModbusConnection& Connection, std::uint32_t BitsPerSecond) {
  const TBaudRate rate = BaudRateFor(BitsPerSecond);
  if (rate == brCustom)
    Connection.SetCustomBaudRate(BitsPerSecond);
  else
    Connection.SetBaudRate(rate);
}

std::string ParityWord(TParityScheme Parity) {
  switch (Parity) {
    case psEven:
      return "even";
    case psOdd:
      return "odd";
    case psNone:
      break;
  }
  return "none";
}

std::string ModeWord(TTransmissionMode Mode) {
  return Mode == tmASCII ? "ascii" : "rtu";
}

int DataBitsNumber(TDataBits DataBits) {
  return DataBits == db7 ? 7 : 8;
}

int StopBitsNumber(TStopBits StopBits) {
  return StopBits == sb2 ? 2 : 1;
}

bool IsTcpPortName(const std::string& Port) {
  return IsTcpStreamName(Port);
}
