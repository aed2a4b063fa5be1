#include "TcpRegisterSource.h"

#include "TcpCollectionCycle.h"
#include "TcpFailureTexts.h"

TTcpRegisterSource::TTcpRegisterSource(const TTcpSourceSettings& Settings) : FSettings(Settings) {
  ConfigureCycleClient(FClient);
  FClient.SetUnitID(Settings.UnitId);
  FClient.SetTimeOut(Settings.ReplyTimeoutMs);
  FClient.SetConnectTimeout(Settings.ConnectTimeoutMs);
}

TRegisterRead TTcpRegisterSource::Read(std::uint16_t Start, std::uint32_t Count) {
  TTcpReadRequest request;
  request.Host = FSettings.Host;
  request.Port = FSettings.Port;
  request.BaseAddress = Start;
  request.Count = Count;
  if (Start + Count > 65536u) request.RefusedText = MAP_BEYOND_LAST_REGISTER_TEXT;
  const TTcpReadResult result = ReadTcpRegisters(FClient, request);
  TRegisterRead read;
  read.Ok = result.Ok && result.Complete;
  read.Words = result.Registers;
  read.Error = read.Ok ? "" : !result.ErrorBarText.empty() ? result.ErrorBarText : result.LastError;
  return read;
}

std::string DescribeTcpSource(const TTcpSourceSettings& Settings) {
  return "Modbus TCP " + TcpEndpointText(Settings.Host, Settings.Port) + ", unit " +
         std::to_string(Settings.UnitId);
}

std::string TTcpRegisterSource::Describe() const {
  return DescribeTcpSource(FSettings);
}
