#include "TcpCycleSource.h"

#include <cmath>

namespace {

int Milliseconds(double Seconds) {
  return static_cast<int>(std::lround(Seconds * 1000));
}

}  // namespace

TTcpCycleSource::TTcpCycleSource(const TPollOptions& Options, TRegisterMap& Map)
    : FCycle(FClient, Map) {
  // The cycle applies the window's client settings; the command line's win.
  FClient.SetUnitID(static_cast<uint8_t>(Options.Tcp.UnitId));
  FClient.SetTimeOut(static_cast<uint32_t>(Milliseconds(Options.Tcp.ReplyTimeoutSeconds)));
  FClient.SetConnectTimeout(Milliseconds(Options.Tcp.ConnectTimeoutSeconds));

  FSettings.Host = Options.Tcp.Host;
  FSettings.Port = Options.Tcp.Port;
  FSettings.LeaveConnectionOpen = Options.LeaveOpen;
  FSettings.Function = Options.Function;
  FSettings.BytesSequenceIndex = Options.ByteSequenceIndex.value_or(BS_1_0_3_2);
  FSettings.QvztMode = Options.Qvzt;
  FSettings.Float32 = Options.Float32;
  FSettings.MeterInstanceIndex = Options.MeterInstanceIndex;
  FCycle.StartPoll();
}
