#include "TcpCollectionCycle.h"

#include "Commons.h"
#include "ValueDecoding.h"

#include <exception>

std::string ServerExceptionText(uint8_t ErrorCode) {
  switch (ErrorCode) {
    case 1: return "Comando Illegale";
    case 2: return "Indirizzo Illegale";
    case 3: return "Valore Illegale";
    case 4: return "Fallimento del Server";
    case 5: return "Acknowledge";
    case 6: return "Server Occupato";
    case 7: return "Acknowledge negativo";
    case 8: return "Errore di Parità";
    case 10: return "Percorso di comunicazione Gateway non disponibile";
    case 11: return "Nessuna risposta dal gateway";
    default: return "Sconosciuta";
  }
}

namespace {

// The port text as a TCP port. A number outside 0..65535 is refused rather
// than cut to 16 bits, which would connect to some other port.
uint16_t PortFromText(const std::string& Text) {
  const int port = StrToInt(Text);
  if (port < 0 || port > 65535) throw EConvertError("'" + Text + "' is not a valid port number");
  return static_cast<uint16_t>(port);
}

}  // namespace

TTcpCollectionCycle::TTcpCollectionCycle(TIdModBusClient& Client, TRegisterMap& Map,
                                         TErrorBarSink ShowError)
    : FClient(Client), FMap(Map), FShowError(std::move(ShowError)) {
  FClient.SetConnectTimeout(0);
  FClient.SetIPVersion(TIPVersion::IPv4);
  FClient.SetPort(5020);
  FClient.SetAutoConnect(false);
  FClient.SetBaseRegister(0);
  FClient.SetUnitID(0);
  FClient.OnResponseError = [this](uint8_t FunctionCode, uint8_t ErrorCode,
                                   const TModBusResponseBuffer& ResponseBuffer) {
    mctPLCResponseError(FunctionCode, ErrorCode, ResponseBuffer);
  };
}

TTcpCollectionCycle::~TTcpCollectionCycle() { FClient.OnResponseError = nullptr; }

void TTcpCollectionCycle::mctPLCResponseError(uint8_t, uint8_t ErrorCode,
                                              const TModBusResponseBuffer&) {
  ShowError(SERVER_EXCEPTION_PREFIX + ServerExceptionText(ErrorCode));
}

void TTcpCollectionCycle::ShowError(const std::string& Text) {
  if (FShowError) FShowError(Text);
}

void TTcpCollectionCycle::UpdateGridData(bool DataAvail, bool Float32) {
  if (OnUpdateGridData)
    OnUpdateGridData(DataAvail);
  else
    FMap.UpdateGridData(DataAvail, Float32);
}

bool TTcpCollectionCycle::PollTCPUpdate(const TTcpCycleSettings& Settings) {
  const bool result = CollectDataTCP(Settings);
  UpdateGridData(result, Settings.Float32);
  return result;
}

bool TTcpCollectionCycle::CollectDataTCP(const TTcpCycleSettings& Settings) {
  FDecoded = false;
  FLastError.clear();

  const TMapSettings mapSettings{Settings.Float32, Settings.MeterInstanceIndex};
  // Registers the map spans in the current layout, before any 16-bit cut.
  const int32_t spanned =
      FMap.MBRegCount() - (Settings.Float32 ? FMap.MBFPRegSingleDelta() : 0);

  // Where an open connection leads: the client is only ever connected to the
  // host and port it holds.
  const std::string openHost = FClient.Host();
  const uint16_t openPort = FClient.Port();
  FClient.SetHost(Settings.Host);
  FClient.SetPort(PortFromText(Settings.PortText));  // outside the guard: the caller reports it
  FClient.SetReadTimeout(TCP_CYCLE_READ_TIMEOUT);
  const EByteSequence byteSequence =
      ByteSequenceFor(Settings.QvztMode, Settings.BytesSequenceIndex);
  FMap.SetBaseAddress(BaseAddressFor(mapSettings));
  const uint16_t base = FMap.BaseAddress();

  try {
    // Past register 65535 the block addresses would wrap to register 0 and
    // show the wrong registers as the map's values.
    if (spanned < 0 || static_cast<uint32_t>(base) + static_cast<uint32_t>(spanned) > 65536u) {
      ShowError(MAP_BEYOND_LAST_REGISTER_TEXT);
      return false;
    }

    bool connected = false;
    try {
      connected = FClient.Connected();
    } catch (const std::exception&) {
      connected = false;
    }
    // A connection kept open by an earlier poll leads to the device that poll
    // read; after the address or port changed it would show that device's
    // values as the new one's.
    if (connected && (openHost != FClient.Host() || openPort != FClient.Port())) {
      FClient.Disconnect();
      connected = false;
    }
    if (!FFirstTimeConnection && Settings.LeaveConnectionOpen && !connected) {
      ShowError(CONNECTION_LOST_TEXT);
      return false;
    }
    FFirstTimeConnection = false;
    if (!connected) FClient.Connect();

    std::vector<uint16_t> regValues;
    bool complete = false;
    try {
      complete = ReadBlocks(base, static_cast<uint32_t>(spanned), regValues);
    } catch (...) {
      if (!Settings.LeaveConnectionOpen) FClient.Disconnect();
      throw;
    }
    if (!Settings.LeaveConnectionOpen) FClient.Disconnect();

    if (complete) {
      DecodeRegisters(FMap, regValues,
                      TDecodeOptions{byteSequence, Settings.Float32, EDecodePath::dpTCP,
                                     Settings.DecimalSeparator});
      FDecoded = true;
      UpdateGridData(true, Settings.Float32);
    }
    return true;
  } catch (const std::exception& error) {
    FLastError = error.what();
    return false;
  } catch (...) {
    FLastError = "unknown error";
    return false;
  }
}

bool TTcpCollectionCycle::ReadBlocks(uint16_t Address, uint32_t Count,
                                     std::vector<uint16_t>& RegValues) {
  RegValues.clear();
  RegValues.reserve(Count);
  std::vector<uint16_t> regBlock;
  uint32_t address = Address;
  uint32_t remaining = Count;
  while (remaining > 0) {
    const uint16_t block =
        static_cast<uint16_t>(remaining <= TCP_BLOCK_REGISTERS ? remaining : TCP_BLOCK_REGISTERS);
    regBlock.assign(block, 0);
    if (!FClient.ReadHoldingRegisters(static_cast<uint16_t>(address), block, regBlock))
      return false;
    RegValues.insert(RegValues.end(), regBlock.begin(), regBlock.begin() + block);
    address += block;
    remaining -= block;
  }
  return true;
}
