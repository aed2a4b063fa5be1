#pragma once
// The TCP collection cycle: reads every register of the map from the meter
// over Modbus TCP in blocks, decodes them and tells the grid. The main window
// and the headless poller share it: they own the client and the map, fill a
// TTcpCycleSettings from their controls or options, and receive the error-bar
// texts through a callback.

#include "IdModBusClient.h"
#include "RegisterMap.h"

#include <cstdint>
#include <functional>
#include <string>

// Largest block one request asks for. One register below the protocol limit
// of 125, which some meters do not serve.
inline constexpr uint16_t TCP_BLOCK_REGISTERS = 124;
// Milliseconds one look at the socket may wait while a reply is awaited.
inline constexpr int32_t TCP_CYCLE_READ_TIMEOUT = 100;

inline constexpr char SERVER_EXCEPTION_PREFIX[] = "Eccezione Server: ";
inline constexpr char CONNECTION_LOST_TEXT[] = "Connessione col dispositivo interrotta";
// The map reaches past register 65535 from the chosen base address.
inline constexpr char MAP_BEYOND_LAST_REGISTER_TEXT[] =
    "La mappa supera l'ultimo registro del dispositivo (65535)";

// Text after SERVER_EXCEPTION_PREFIX for a Modbus exception code:
// 1 "Comando Illegale" ... 11 "Nessuna risposta dal gateway", else "Sconosciuta".
std::string ServerExceptionText(uint8_t ErrorCode);

// What one cycle reads from the window (or the poller's options).
struct TTcpCycleSettings {
  std::string Host = "192.168.1.50";   // edtIPAddress
  std::string PortText = "502";        // PortEdit; converted on every cycle
  bool LeaveConnectionOpen = false;    // chkLeaveConnectionOpen
  int BytesSequenceIndex = 0;          // BytesSequenceCombo, 0..3
  bool QvztMode = false;               // QvztModeCheckBox: always BS_0_1_2_3
  bool Float32 = false;                // Float32CheckBox
  int MeterInstanceIndex = 0;          // MeterInstanceCombo, 0..4
  std::string DecimalSeparator = ".";  // for the "0.##" value texts
};

class TTcpCollectionCycle {
public:
  // Sets the text of the red error bar and shows it.
  using TErrorBarSink = std::function<void(const std::string& Text)>;
  // The window's UpdateGridData(pDataAvail).
  using TGridDataSink = std::function<void(bool pDataAvail)>;

  // Applies the client settings the cycle relies on (no auto-connect, register
  // numbers sent as they are, unit identifier 0, IPv4, no connect time-out of
  // its own, port 5020 until a cycle sets it) and takes the client's
  // OnResponseError. Client and Map must outlive the cycle.
  TTcpCollectionCycle(TIdModBusClient& Client, TRegisterMap& Map, TErrorBarSink ShowError);
  ~TTcpCollectionCycle();
  TTcpCollectionCycle(const TTcpCollectionCycle&) = delete;
  TTcpCollectionCycle& operator=(const TTcpCollectionCycle&) = delete;

  // Called with true after every complete decoding pass. When it is not set
  // the cycle refreshes the map's grid texts itself.
  TGridDataSink OnUpdateGridData;

  // A poll starts: the next cycle may open the connection even when
  // "Leave Connection Open" is checked.
  void StartPoll() { FFirstTimeConnection = true; }
  bool FirstTimeConnection() const { return FFirstTimeConnection; }

  // One cycle. True when it ran without a connection error and did not find
  // a kept-open connection closed; the caller stops the poll on false. An
  // exception reply, a time-out or a mismatched reply leaves the values of the
  // last complete cycle and still returns true. A port text that is not a
  // port number raises EConvertError before anything else happens. A
  // connection left open by an earlier poll is reused only while the host and
  // port are still the ones it was made to.
  bool CollectDataTCP(const TTcpCycleSettings& Settings);

  // One poll tick: CollectDataTCP, then the grid with its result.
  bool PollTCPUpdate(const TTcpCycleSettings& Settings);

  // How the last cycle ended, for callers that report more than the window:
  // every block read and decoded ...
  bool Decoded() const { return FDecoded; }
  // ... or the message of the connection error that ended it (empty if none).
  const std::string& LastError() const { return FLastError; }

  // OnResponseError of the client: "Eccezione Server: " + the code's text.
  void mctPLCResponseError(uint8_t FunctionCode, uint8_t ErrorCode,
                           const TModBusResponseBuffer& ResponseBuffer);

private:
  void ShowError(const std::string& Text);
  void UpdateGridData(bool DataAvail, bool Float32);
  // Reads Count registers from Address in blocks; true when all came back.
  bool ReadBlocks(uint16_t Address, uint32_t Count, std::vector<uint16_t>& RegValues);

  TIdModBusClient& FClient;
  TRegisterMap& FMap;
  TErrorBarSink FShowError;
  bool FFirstTimeConnection = true;
  bool FDecoded = false;
  std::string FLastError;
};
