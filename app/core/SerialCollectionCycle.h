#pragma once
// The serial collection cycle: reads every register of the map from the meter
// over a Modbus RTU line in one request. Unlike the TCP cycle it runs in two
// halves: CollectDataSerial writes the port settings, opens the port and
// queues the request; the serial library performs the exchange on its worker
// thread and reports back on the main thread through the client's
// OnHoldingRegistersRead, where the reply is decoded into the map and the
// port is closed again. Either way the cycle ends in one outcome
// (CycleOutcome.h), raised through OnCycleEnded.
//
// The main window and the headless poller share it: they own the connection,
// the client and the map, and tell the cycle where their settings are.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "CycleOutcome.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "ReadFunction.h"
#include "RegisterMap.h"

// Texts of the error bar for replies that are not normal ones.
inline constexpr char NO_REPLY_TEXT[] = "Nessuna Risposta";
inline constexpr char INVALID_FRAME_TEXT[] = "Frame non valido";
inline constexpr char UNEXPECTED_REPLY_TEXT[] = "Risposta non attesa";
inline constexpr char UNMATCHED_REPLY_TEXT[] = "Risposta fuori sequenza";

// Text after "Eccezione Server: " for an exception the serial library
// classified: "Sconosciuta", "Comando Illegale", ... "Errore di Parità".
std::string SerialExceptionText(TServerException Exception);

// The error-bar text for a finished transaction; empty for a normal reply.
std::string ServerReplyText(const TTransactionInfo& Info);

// What one cycle reads from the window (or the poller's options).
struct TSerialCycleSettings {
  TSerialPort Port = "COM7";       // SerialPortEdit
  std::uint32_t BitRate = 115200;  // the item selected in BaudRateCombo
  TParityScheme Parity = psNone;   // the item selected in ParityCombo
  std::uint8_t SlaveAddress = 1;   // SerialSlaveAddressEdit, as the window parsed it
  bool FrameEndByLength = false;   // "Fine frame per lunghezza": replies end by their length
  int BytesSequenceIndex = 0;      // SerialBytesSequenceCombo, 0..3
  bool QvztMode = false;           // QvztModeCheckBox: always BS_0_1_2_3
  bool Float32 = false;            // Float32CheckBox
  int MeterInstanceIndex = 0;      // MeterInstanceCombo, 0..4

  // "Modo", "Bit dati", "Bit di stop" and "Funzione" (holding or input registers).
  TTransmissionMode Mode = tmRTU;
  TDataBits DataBits = db8;
  TStopBits StopBits = sb1;
  EReadFunction Function = DEFAULT_READ_FUNCTION;
  // Over a serial device server's stream (tcp://...): the connection stays
  // open from one cycle to the next instead of closing after each reply (the
  // poller's --leave-open). A serial port always closes.
  bool LeaveStreamOpen = false;
};

class TSerialCollectionCycle {
 public:
  // The settings as they are now; asked at every cycle and at every reply,
  // since the byte sequence and the map options may change in between. When
  // they cannot be read at a reply (a field edited since the poll stopped),
  // the reply is taken with its request's.
  using TSettingsSource = std::function<TSerialCycleSettings()>;

  // Points the client at the connection and takes its OnHoldingRegistersRead
  // and OnInputRegistersRead.
  // Connection, Client and Map must outlive the cycle.
  TSerialCollectionCycle(TModbusConnection& Connection, TModbusClient& Client, TRegisterMap& Map,
                         TSettingsSource Settings);
  ~TSerialCollectionCycle();
  TSerialCollectionCycle(const TSerialCollectionCycle&) = delete;
  TSerialCollectionCycle& operator=(const TSerialCollectionCycle&) = delete;

  // Every cycle's outcome: the reply's, or a request that could not be
  // queued (EndsPoll). A reply to a request made for another meter instance
  // or layout (the options changed while it was on its way) ends no cycle:
  // it is left out.
  std::function<void(const TCycleOutcome&)> OnCycleEnded;

  // A poll starts. A port still open from an earlier poll (its last request
  // was a broadcast, or its reply never came) is closed first, so that the
  // settings entered since then can be applied.
  void StartPoll();

  // Writes the settings, opens the port and queues one read of the whole map.
  // True when the request was queued. When the port cannot be opened or the
  // request is refused, the cycle ends at once with the library's message and
  // the result is false. A port change refused while the port is open raises
  // before anything is opened.
  bool CollectDataSerial();

  // OnHoldingRegistersRead and OnInputRegistersRead of the client.
  void HoldingRegistersRead(const TTransactionInfo& Info, std::uint16_t StartReg,
                            std::uint16_t RegCount, const TRegValues& RegValues);

 private:
  // Registers the map spans in the layout of the settings, before any cut to 16 bits.
  std::int32_t SpannedRegisters(const TSerialCycleSettings& Settings) const;
  void Ended(const TCycleOutcome& Outcome);
  void CloseQuietly();

  TModbusConnection& FConnection;
  TModbusClient& FClient;
  TRegisterMap& FMap;
  TSettingsSource FSettings;
  // Identifier of the request queued last. Only its reply closes the port, so
  // that a request queued behind an earlier one is not discarded with it.
  std::uint32_t FLastRequestID = 0;
  // When that request was queued, the start of its cycle, and its settings.
  std::chrono::system_clock::time_point FLastRequestTime;
  TSerialCycleSettings FLastRequestSettings;
};
