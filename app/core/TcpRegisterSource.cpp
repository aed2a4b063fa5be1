#include "TcpRegisterSource.h"

#include <exception>

#include "ModLinkConsts.h"
#include "NetworkEndpoint.h"
#include "TcpCollectionCycle.h"
#include "TcpFailureTexts.h"

TTcpRegisterSource::TTcpRegisterSource(const TTcpSourceSettings& Settings) : FSettings(Settings) {
  ConfigureCycleClient(FClient);
  FClient.SetUnitID(Settings.UnitId);
  FClient.SetTimeOut(Settings.ReplyTimeoutMs);
  FClient.SetConnectTimeout(Settings.ConnectTimeoutMs);
}

TRegisterRead TTcpRegisterSource::Read(std::uint16_t Start, std::uint32_t Count) {
  return ReadTable(EReadFunction::rfHoldingRegisters, Start, Count);
}

std::string DescribeTcpSource(const TTcpSourceSettings& Settings) {
  return "Modbus TCP " + TcpEndpointText(Settings.Host, Settings.Port) + ", unit " +
         std::to_string(Settings.UnitId);
}

std::string TTcpRegisterSource::Describe() const {
  return DescribeTcpSource(FSettings);
}

std::string TTcpRegisterSource::Exchange(const std::function<bool()>& Request,
                                         std::uint8_t& ExceptionCode) {
  FClient.SetHost(FSettings.Host);
  FClient.SetPort(FSettings.Port);
  FClient.SetIPVersion(IPVersionFor(FSettings.Host));
  FClient.SetReadTimeout(TCP_CYCLE_READ_TIMEOUT);
  std::string text;
  ExceptionCode = 0;
  FClient.OnResponseError = [&](uint8_t, uint8_t Code, const TModBusResponseBuffer&) {
    ExceptionCode = Code;
    text = ExceptionReplyText(Code);
  };
  FClient.OnResponseMismatch = [&](uint8_t Sent, uint8_t Received, const TModBusResponseBuffer&) {
    text = MismatchedReplyText(Sent, Received);
  };
  const auto osError = [](const std::exception& Error) {
    const auto* tcp = dynamic_cast<const ETcpConnectionError*>(&Error);
    return tcp != nullptr ? tcp->OSError() : 0;
  };
  bool connected = false;
  try {
    FClient.Connect();
    connected = true;
    if (Request())
      text.clear();
    else if (text.empty())
      text = NoReplyText(FClient.TimeOut(), ".");
  } catch (const std::exception& error) {
    if (!connected)
      text = ConnectFailureText(TcpEndpointText(FSettings.Host, FSettings.Port), osError(error),
                                FClient.ConnectTimeout(), ".");
    else
      text = dynamic_cast<const ETcpConnectionError*>(&error) != nullptr
                 ? LostConnectionText(osError(error))
                 : error.what();
  }
  try {
    FClient.Disconnect();
  } catch (...) {
    // The exchange is over either way; nothing waits on the connection.
  }
  FClient.OnResponseError = nullptr;
  FClient.OnResponseMismatch = nullptr;
  return text;
}

// Either table in the TCP cycle's blocks, so that a read of a whole map takes
// as many requests as the poll does.
TRegisterRead TTcpRegisterSource::ReadTable(EReadFunction Table, std::uint16_t Start,
                                            std::uint32_t Count) {
  TTcpReadRequest request;
  request.Host = FSettings.Host;
  request.Port = FSettings.Port;
  request.BaseAddress = Start;
  request.Count = Count;
  request.Function = Table;
  if (Start + Count > 65536u) request.RefusedText = MAP_BEYOND_LAST_REGISTER_TEXT;
  const TTcpReadResult result = ReadTcpRegisters(FClient, request);
  TRegisterRead read;
  read.Ok = result.Ok && result.Complete;
  read.Words = result.Registers;
  read.Error = read.Ok ? "" : !result.ErrorBarText.empty() ? result.ErrorBarText : result.LastError;
  return read;
}

TRegisterWrite TTcpRegisterSource::Write(std::uint16_t Start,
                                         const std::vector<std::uint16_t>& Words, bool Single) {
  TRegisterWrite write;
  if (const std::string refused = WriteRangeRefusal(Start, Words.size(), Single);
      !refused.empty()) {
    write.Error = refused;
    return write;
  }
  write.Error = Exchange(
      [&] {
        return Single ? FClient.WriteRegister(Start, Words[0])
                      : FClient.WriteRegisters(Start, Words);
      },
      write.ExceptionCode);
  write.Ok = write.Error.empty();
  return write;
}
