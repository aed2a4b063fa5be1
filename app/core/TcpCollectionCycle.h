#pragma once
// The TCP collection cycle: reads every register of the map from the meter
// over Modbus TCP in blocks, decodes them and tells the grid. The main window
// and the headless poller share it: they own the client and the map, fill a
// TTcpCycleSettings from their controls or options, and receive the error-bar
// texts through a callback. The read is a function of the client alone, so
// the window can run it on a worker thread and decode on its own.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "IdModBusClient.h"
#include "RegisterMap.h"

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

// Milliseconds a cycle's connect may take before it is given up: a device
// that never answers the connect would otherwise hold the cycle for as long
// as the kernel retries (over two minutes).
inline constexpr int TCP_CYCLE_CONNECT_TIMEOUT = 5000;

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

// The network half of a cycle, fixed on the thread that owns the map before
// the registers are read, so that the read itself needs nothing but a client.
struct TTcpReadRequest {
  std::string Host;
  uint16_t Port = 0;
  bool LeaveConnectionOpen = false;
  bool FirstTimeConnection = true;
  uint16_t BaseAddress = 0;
  uint32_t Count = 0;  // registers from BaseAddress
  std::string DecimalSeparator = ".";
  std::string RefusedText;  // when set, the cycle fails with this text unread
};

// What the read brought back.
struct TTcpReadResult {
  // The cycle's result: false after a connection error or a kept-open
  // connection found closed; the caller stops the poll.
  bool Ok = false;
  // Registers from the base address: all of them when Complete, else those of
  // the blocks that came back before one failed.
  std::vector<uint16_t> Registers;
  bool Complete = false;
  // Why the cycle did not get everything, for the error bar (empty if it did).
  std::string ErrorBarText;
  // The message of the exception that ended the cycle (empty if none).
  std::string LastError;
};

// Reads the registers of Request on the calling thread, touching nothing but
// Client: connects when needed, reads in blocks of at most 124 registers and
// disconnects unless the connection is to stay open. Takes the client's
// OnResponseError and OnResponseMismatch while it reads.
TTcpReadResult ReadTcpRegisters(TIdModBusClient& Client, const TTcpReadRequest& Request);

// The client settings every cycle relies on: no auto-connect, register
// numbers sent as they are, unit identifier 0, IPv4, a connect bounded by
// TCP_CYCLE_CONNECT_TIMEOUT, port 5020 until a cycle sets it.
void ConfigureCycleClient(TIdModBusClient& Client);

class TTcpCollectionCycle {
 public:
  // Sets the text of the red error bar and shows it.
  using TErrorBarSink = std::function<void(const std::string& Text)>;
  // The window's UpdateGridData(pDataAvail).
  using TGridDataSink = std::function<void(bool pDataAvail)>;

  // Configures the client (ConfigureCycleClient). Client and Map must outlive
  // the cycle.
  TTcpCollectionCycle(TIdModBusClient& Client, TRegisterMap& Map, TErrorBarSink ShowError);
  TTcpCollectionCycle(const TTcpCollectionCycle&) = delete;
  TTcpCollectionCycle& operator=(const TTcpCollectionCycle&) = delete;

  // Called with true after every decoding pass. When it is not set the cycle
  // refreshes the map's grid texts itself.
  TGridDataSink OnUpdateGridData;

  // A poll starts: the next cycle may open the connection even when
  // "Leave Connection Open" is checked.
  void StartPoll() { FFirstTimeConnection = true; }
  bool FirstTimeConnection() const { return FFirstTimeConnection; }

  // One cycle on the calling thread: PrepareRead, ReadTcpRegisters on the
  // client, FinishRead. True when it ran without a connection error and did
  // not find a kept-open connection closed; the caller stops the poll on
  // false. A block that fails (time-out, exception reply, mismatched reply)
  // shows why in the error bar, "<N/A>" for the entries it did not get, and
  // still returns true. A port text that is not a port number raises
  // EConvertError before anything else happens. A connection left open by an
  // earlier poll is reused only while the host and port are still the ones it
  // was made to.
  bool CollectDataTCP(const TTcpCycleSettings& Settings);

  // One poll tick: CollectDataTCP, then the grid with its result.
  bool PollTCPUpdate(const TTcpCycleSettings& Settings);

  // The two halves of CollectDataTCP around the read, for a caller that reads
  // on another thread. PrepareRead sets the map's base address and raises
  // EConvertError for a bad port text; FinishRead shows the result's text,
  // decodes what came back and returns the cycle's result.
  TTcpReadRequest PrepareRead(const TTcpCycleSettings& Settings);
  bool FinishRead(const TTcpCycleSettings& Settings, const TTcpReadResult& Result);

  // How the last cycle ended, for callers that report more than the window:
  // every block read and decoded ...
  bool Decoded() const { return FDecoded; }
  // ... or the message of the connection error that ended it (empty if none).
  const std::string& LastError() const { return FLastError; }

  // An exception reply: "Eccezione Server: " + the code's text.
  void mctPLCResponseError(uint8_t FunctionCode, uint8_t ErrorCode,
                           const TModBusResponseBuffer& ResponseBuffer);

 private:
  void ShowError(const std::string& Text);
  void UpdateGridData(bool DataAvail, bool Float32);

  TIdModBusClient& FClient;
  TRegisterMap& FMap;
  TErrorBarSink FShowError;
  bool FFirstTimeConnection = true;
  bool FDecoded = false;
  std::string FLastError;
};
