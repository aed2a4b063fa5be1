#pragma once
// The TCP collection cycle: reads every register of the map from the meter
// over Modbus TCP in blocks, decodes them into the map and ends in one
// outcome (CycleOutcome.h). The main window and the headless poller share
// it: they own the client and the map and fill a TTcpCycleSettings from their
// controls or options. The read is a function of the client alone, so the
// window can run it on a worker thread and decode on its own.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CycleOutcome.h"
#include "IdModBusClient.h"
#include "ReadFunction.h"
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
// Serves the serial path too, whose library classifies the codes 1 to 8.
std::string ServerExceptionText(uint8_t ErrorCode);
// The error bar's text for an exception reply: "Eccezione Server: " + the text.
std::string ExceptionReplyText(uint8_t ErrorCode);

// Milliseconds a cycle's connect may take before it is given up: a device
// that never answers the connect would otherwise hold the cycle for as long
// as the kernel retries (over two minutes).
inline constexpr int TCP_CYCLE_CONNECT_TIMEOUT = 5000;

// What one cycle reads from the window (or the poller's options).
struct TTcpCycleSettings {
  std::string Host = "192.168.1.50";  // edtIPAddress
  uint16_t Port = 502;                // PortEdit, as the window parsed it
  bool LeaveConnectionOpen = false;   // chkLeaveConnectionOpen
  int BytesSequenceIndex = 0;         // BytesSequenceCombo, 0..3
  bool QvztMode = false;              // QvztModeCheckBox: always BS_0_1_2_3
  bool Float32 = false;               // Float32CheckBox
  int MeterInstanceIndex = 0;         // MeterInstanceCombo, 0..4

  // Holding registers (03) or input registers (04): "Funzione".
  EReadFunction Function = DEFAULT_READ_FUNCTION;
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
  EReadFunction Function = DEFAULT_READ_FUNCTION;
  // Before the decimals of the seconds in the failure texts (the user's).
  std::string TextDecimalSeparator = ".";
  std::string RefusedText;  // when set, the cycle fails with this text unread
};

// What the read brought back.
struct TTcpReadResult {
  std::chrono::system_clock::time_point Started;  // when the read began
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
// Client: connects when needed (over IPv6 to a host with colons), reads in
// blocks of at most 124 registers and disconnects unless the connection is to
// stay open, with function 3 or 4 as Request says. Takes the client's OnResponseError and
// OnResponseMismatch while it reads.
TTcpReadResult ReadTcpRegisters(TIdModBusClient& Client, const TTcpReadRequest& Request);

// The client settings every cycle relies on: no auto-connect, register
// numbers sent as they are, unit identifier 0, a connect bounded by
// TCP_CYCLE_CONNECT_TIMEOUT, port 5020 until a cycle sets it.
void ConfigureCycleClient(TIdModBusClient& Client);

class TTcpCollectionCycle {
 public:
  // Configures the client (ConfigureCycleClient). Client and Map must outlive
  // the cycle. TextDecimalSeparator goes before the decimals of the seconds
  // that failure texts name (the user's, in the window).
  TTcpCollectionCycle(TIdModBusClient& Client, TRegisterMap& Map,
                      std::string TextDecimalSeparator = ".");
  TTcpCollectionCycle(const TTcpCollectionCycle&) = delete;
  TTcpCollectionCycle& operator=(const TTcpCollectionCycle&) = delete;

  // Every cycle's outcome, as it ends.
  std::function<void(const TCycleOutcome&)> OnCycleEnded;

  // A poll starts: the next cycle may open the connection even when
  // "Leave Connection Open" is checked.
  void StartPoll() { FFirstTimeConnection = true; }
  bool FirstTimeConnection() const { return FFirstTimeConnection; }

  // One cycle on the calling thread: PrepareRead, ReadTcpRegisters on the
  // client, FinishRead. A connection error or a kept-open connection found
  // closed ends the poll (EndsPoll) and shows "<N/A>" everywhere. A block that
  // fails (time-out, exception reply, mismatched reply) says why in Error,
  // shows "<N/A>" for the entries it did not get, and the poll goes on. A
  // connection left open by an earlier poll is reused only while the host and
  // port are still the ones it was made to.
  TCycleOutcome CollectDataTCP(const TTcpCycleSettings& Settings);

  // The two halves of CollectDataTCP around the read, for a caller that reads
  // on another thread. PrepareRead sets the map's base address; FinishRead
  // decodes what came back into the map, raises OnCycleEnded and returns the
  // outcome.
  TTcpReadRequest PrepareRead(const TTcpCycleSettings& Settings);
  TCycleOutcome FinishRead(const TTcpCycleSettings& Settings, const TTcpReadResult& Result);

 private:
  TIdModBusClient& FClient;
  TRegisterMap& FMap;
  std::string FTextDecimalSeparator;
  bool FFirstTimeConnection = true;
};
