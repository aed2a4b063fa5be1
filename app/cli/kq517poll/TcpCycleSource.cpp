#include "TcpCycleSource.h"

#include <cmath>

bool FirmwareWordAbsent(const TRegisterMap& Map) {
  const auto& regs = Map.Regs();
  return !regs.empty() && regs[0].regType == eWord && regs[0].obis.empty() &&
         regs[0].desc == FIRMWARE_VERSION_DESC && !Map.RegRawData().empty() &&
         Map.RegRawData()[0] == "FFFF";
}

namespace {

int Milliseconds(double Seconds) {
  return static_cast<int>(std::lround(Seconds * 1000));
}

}  // namespace

TTcpCycleSource::TTcpCycleSource(const TPollOptions& Options, TRegisterMap& Map)
    : FOptions(Options),
      FMap(Map),
      FCycle(FClient, Map, [this](const std::string& Text) { FErrorBar.push_back(Text); }) {
  // The cycle applies the window's client settings; the command line's win.
  FClient.SetUnitID(static_cast<uint8_t>(Options.Tcp.UnitId));
  FClient.SetTimeOut(static_cast<uint32_t>(Milliseconds(Options.Tcp.ReplyTimeoutSeconds)));
  FClient.SetConnectTimeout(Milliseconds(Options.Tcp.ConnectTimeoutSeconds));
  // An address with colons ([::1]:502 on the command line) can only be
  // reached over IPv6.
  if (Options.Tcp.Host.find(':') != std::string::npos) FClient.SetIPVersion(TIPVersion::IPv6);

  FSettings.Host = Options.Tcp.Host;
  FSettings.PortText = std::to_string(Options.Tcp.Port);
  FSettings.LeaveConnectionOpen = Options.LeaveOpen;
  FSettings.BytesSequenceIndex = Options.ByteSequenceIndex.value_or(BS_1_0_3_2);
  FSettings.QvztMode = Options.Qvzt;
  FSettings.Float32 = Options.Float32;
  FSettings.MeterInstanceIndex = Options.MeterInstanceIndex;
  FCycle.StartPoll();
}

TCycleOutcome TTcpCycleSource::RunCycle() {
  FErrorBar.clear();
  TCycleOutcome outcome;
  const bool result = FCycle.PollTCPUpdate(FSettings);
  outcome.EndsPoll = !result;
  if (FCycle.Decoded()) {
    outcome.Ok = !FirmwareWordAbsent(FMap);
    outcome.ValuesAbsent = !outcome.Ok;
    if (!outcome.Ok) outcome.Error = MeterNotPresentText(FOptions.MeterInstanceIndex);
  } else if (!FErrorBar.empty()) {
    outcome.Error = FErrorBar.back();
  } else if (!FCycle.LastError().empty()) {
    outcome.Error = FCycle.LastError();
  } else {
    outcome.Error = "no complete reply from the device (time-out or unexpected reply)";
  }
  return outcome;
}
