#include "TcpCollectionCycle.h"

#include <exception>

#include "MeterPresence.h"
#include "NetworkEndpoint.h"
#include "TcpFailureTexts.h"
#include "ValueDecoding.h"

std::string ServerExceptionText(uint8_t ErrorCode) {
  switch (ErrorCode) {
    case 1:
      return "Comando Illegale";
    case 2:
      return "Indirizzo Illegale";
    case 3:
      return "Valore Illegale";
    case 4:
      return "Fallimento del Server";
    case 5:
      return "Acknowledge";
    case 6:
      return "Server Occupato";
    case 7:
      return "Acknowledge negativo";
    case 8:
      return "Errore di Parità";
    case 10:
      return "Percorso di comunicazione Gateway non disponibile";
    case 11:
      return "Nessuna risposta dal gateway";
    default:
      return "Sconosciuta";
  }
}

std::string ExceptionReplyText(uint8_t ErrorCode) {
  return SERVER_EXCEPTION_PREFIX + ServerExceptionText(ErrorCode);
}

namespace {

// Holds the client's reply events for one read and hands them back after it,
// so that the texts they carry land in that read's result.
class TReplyEvents {
 public:
  TReplyEvents(TIdModBusClient& Client, std::string& Text) : FClient(Client) {
    FClient.OnResponseError = [&Text](uint8_t, uint8_t ErrorCode, const TModBusResponseBuffer&) {
      Text = ExceptionReplyText(ErrorCode);
    };
    FClient.OnResponseMismatch = [&Text](uint8_t Request, uint8_t Response,
                                         const TModBusResponseBuffer&) {
      Text = MismatchedReplyText(Request, Response);
    };
  }
  ~TReplyEvents() {
    FClient.OnResponseError = nullptr;
    FClient.OnResponseMismatch = nullptr;
  }
  TReplyEvents(const TReplyEvents&) = delete;
  TReplyEvents& operator=(const TReplyEvents&) = delete;

 private:
  TIdModBusClient& FClient;
};

// Reads Count registers from Address in blocks into Registers; false at the
// first block that did not come back, with the reason in Text.
bool ReadBlocks(TIdModBusClient& Client, EReadFunction Function, uint16_t Address, uint32_t Count,
                std::vector<uint16_t>& Registers, std::string& Text,
                std::string_view DecimalSeparator) {
  Registers.clear();
  Registers.reserve(Count);
  std::vector<uint16_t> regBlock;
  uint32_t address = Address;
  uint32_t remaining = Count;
  while (remaining > 0) {
    const uint16_t block =
        static_cast<uint16_t>(remaining <= TCP_BLOCK_REGISTERS ? remaining : TCP_BLOCK_REGISTERS);
    regBlock.assign(block, 0);
    Text.clear();
    const bool read =
        Function == EReadFunction::rfInputRegisters
            ? Client.ReadInputRegisters(static_cast<uint16_t>(address), block, regBlock)
            : Client.ReadHoldingRegisters(static_cast<uint16_t>(address), block, regBlock);
    if (!read) {
      // Neither an exception reply nor a mismatch: the reply did not come.
      if (Text.empty()) Text = NoReplyText(Client.TimeOut(), DecimalSeparator);
      return false;
    }
    Registers.insert(Registers.end(), regBlock.begin(), regBlock.begin() + block);
    address += block;
    remaining -= block;
  }
  return true;
}

int OSErrorOf(const std::exception& Error) {
  const auto* tcp = dynamic_cast<const ETcpConnectionError*>(&Error);
  return tcp != nullptr ? tcp->OSError() : 0;
}

}  // namespace

void ConfigureCycleClient(TIdModBusClient& Client) {
  Client.SetConnectTimeout(TCP_CYCLE_CONNECT_TIMEOUT);
  Client.SetPort(5020);
  Client.SetAutoConnect(false);
  Client.SetBaseRegister(0);
  Client.SetUnitID(0);
}

TTcpReadResult ReadTcpRegisters(TIdModBusClient& Client, const TTcpReadRequest& Request) {
  TTcpReadResult result;
  result.Started = std::chrono::system_clock::now();
  if (!Request.RefusedText.empty()) {
    result.ErrorBarText = Request.RefusedText;
    return result;
  }
  // Where an open connection leads: the client is only ever connected to the
  // host and port it holds.
  const std::string openHost = Client.Host();
  const uint16_t openPort = Client.Port();
  const TIPVersion openVersion = Client.IPVersion();
  Client.SetHost(Request.Host);
  Client.SetPort(Request.Port);
  Client.SetIPVersion(IPVersionFor(Request.Host));
  Client.SetReadTimeout(TCP_CYCLE_READ_TIMEOUT);
  const std::string endpoint = TcpEndpointText(Request.Host, Request.Port);
  TReplyEvents events(Client, result.ErrorBarText);

  try {
    bool connected = false;
    try {
      connected = Client.Connected();
    } catch (const std::exception&) {
      connected = false;
    }
    // A connection kept open by an earlier poll leads to the device that poll
    // read; after the address or port changed it would show that device's
    // values as the new one's.
    if (connected && (openHost != Request.Host || openPort != Request.Port ||
                      openVersion != Client.IPVersion())) {
      Client.Disconnect();
      connected = false;
    }
    if (!Request.FirstTimeConnection && Request.LeaveConnectionOpen && !connected) {
      result.ErrorBarText = CONNECTION_LOST_TEXT;
      return result;
    }
    if (!connected) {
      try {
        Client.Connect();
      } catch (const std::exception& error) {
        result.LastError = error.what();
        result.ErrorBarText = ConnectFailureText(
            endpoint, OSErrorOf(error), Client.ConnectTimeout(), Request.TextDecimalSeparator);
        return result;
      }
    }

    try {
      result.Complete =
          ReadBlocks(Client, Request.Function, Request.BaseAddress, Request.Count, result.Registers,
                     result.ErrorBarText, Request.TextDecimalSeparator);
    } catch (const std::exception& error) {
      if (!Request.LeaveConnectionOpen) Client.Disconnect();
      result.LastError = error.what();
      result.ErrorBarText = dynamic_cast<const ETcpConnectionError*>(&error) != nullptr
                                ? LostConnectionText(OSErrorOf(error))
                                : result.LastError;
      return result;
    }
    if (!Request.LeaveConnectionOpen) Client.Disconnect();
    result.Ok = true;
  } catch (const std::exception& error) {
    result.LastError = error.what();
    result.ErrorBarText = result.LastError;
  } catch (...) {
    result.LastError = "unknown error";
    result.ErrorBarText = result.LastError;
  }
  return result;
}

TTcpCollectionCycle::TTcpCollectionCycle(TIdModBusClient& Client, TRegisterMap& Map,
                                         std::string TextDecimalSeparator)
    : FClient(Client), FMap(Map), FTextDecimalSeparator(std::move(TextDecimalSeparator)) {
  ConfigureCycleClient(FClient);
}

TCycleOutcome TTcpCollectionCycle::CollectDataTCP(const TTcpCycleSettings& Settings) {
  const TTcpReadRequest request = PrepareRead(Settings);
  return FinishRead(Settings, ReadTcpRegisters(FClient, request));
}

TTcpReadRequest TTcpCollectionCycle::PrepareRead(const TTcpCycleSettings& Settings) {
  TTcpReadRequest request;
  request.Host = Settings.Host;
  request.Port = Settings.Port;
  request.LeaveConnectionOpen = Settings.LeaveConnectionOpen;
  request.Function = Settings.Function;
  request.TextDecimalSeparator = FTextDecimalSeparator;

  const TMapSettings mapSettings{Settings.Float32, Settings.MeterInstanceIndex};
  // Registers the map spans in the current layout, before any 16-bit cut.
  const int32_t spanned = FMap.MBRegCount() - (Settings.Float32 ? FMap.MBFPRegSingleDelta() : 0);
  FMap.SetBaseAddress(BaseAddressFor(mapSettings));
  request.BaseAddress = FMap.BaseAddress();
  // Past register 65535 the block addresses would wrap to register 0 and
  // show the wrong registers as the map's values.
  if (spanned < 0 ||
      static_cast<uint32_t>(request.BaseAddress) + static_cast<uint32_t>(spanned) > 65536u) {
    request.RefusedText = MAP_BEYOND_LAST_REGISTER_TEXT;
    return request;
  }
  request.Count = static_cast<uint32_t>(spanned);
  request.FirstTimeConnection = FFirstTimeConnection;
  FFirstTimeConnection = false;
  return request;
}

TCycleOutcome TTcpCollectionCycle::FinishRead(const TTcpCycleSettings& Settings,
                                              const TTcpReadResult& Result) {
  TCycleOutcome outcome;
  outcome.Time = Result.Started;
  outcome.MeterInstanceIndex = Settings.MeterInstanceIndex;
  outcome.BaseAddress = FMap.BaseAddress();
  outcome.Words = Result.Registers;
  outcome.Error = !Result.ErrorBarText.empty() ? Result.ErrorBarText : Result.LastError;
  if (Result.Ok) {
    // What did not come back shows "<N/A>", never an earlier cycle's value.
    DecodeRegisters(FMap, Result.Registers,
                    TDecodeOptions{ByteSequenceFor(Settings.QvztMode, Settings.BytesSequenceIndex),
                                   Settings.Float32, EDecodePath::dpTCP});
    outcome.MeterAbsent = Result.Complete && MeterInstanceAbsent(FMap.Regs(), Result.Registers);
    outcome.Ok = Result.Complete && !outcome.MeterAbsent;
  } else {
    outcome.EndsPoll = true;
  }
  outcome.Entries = MapReadings(FMap, Result.Ok);
  if (OnCycleEnded) OnCycleEnded(outcome);
  return outcome;
}
