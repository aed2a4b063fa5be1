#include "CommissionRunner.h"

#include <cmath>

#include "PollLoop.h"
#include "SerialRegisterSource.h"
#include "TcpRegisterSource.h"

int RunCommission(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  switch (Options.Commission.Mode) {
    case ECommissionMode::cmScan:
      return RunScanMode(Options, Out, Err);
    case ECommissionMode::cmDetect:
      return RunDetectMode(Options, Out, Err);
    case ECommissionMode::cmTest:
      return RunTestMode(Options, Out, Err);
    case ECommissionMode::cmNone:
      break;
  }
  return POLL_EXIT_USAGE;
}

std::unique_ptr<TRegisterSource> RegisterSourceFor(const TPollOptions& Options) {
  if (Options.Transport == ETransport::trSerial) {
    TSerialSourceSettings settings;
    settings.Port = Options.Serial.Port;
    settings.BitRate = Options.Serial.BitRate;
    settings.Parity = Options.Serial.Parity;
    settings.Mode = Options.Serial.Mode;
    settings.DataBits = Options.Serial.DataBits;
    settings.StopBits = Options.Serial.StopBits;
    settings.Slave = static_cast<std::uint8_t>(Options.Serial.SlaveAddress);
    return std::make_unique<TSerialRegisterSource>(settings);
  }
  TTcpSourceSettings settings;
  settings.Host = Options.Tcp.Host;
  settings.Port = Options.Tcp.Port;
  settings.UnitId = static_cast<std::uint8_t>(Options.Tcp.UnitId);
  settings.ReplyTimeoutMs =
      static_cast<std::uint32_t>(std::lround(Options.Tcp.ReplyTimeoutSeconds * 1000));
  settings.ConnectTimeoutMs =
      static_cast<int>(std::lround(Options.Tcp.ConnectTimeoutSeconds * 1000));
  return std::make_unique<TTcpRegisterSource>(settings);
}
