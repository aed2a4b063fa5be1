#pragma once
// The serial collection cycle: reads every register of the map from the meter
// over a Modbus RTU line in one request. Unlike the TCP cycle it runs in two
// halves: CollectDataSerial writes the port settings, opens the port and
// queues the request; the serial library performs the exchange on its worker
// thread and reports back on the main thread through the client's
// OnHoldingRegistersRead, where the reply is decoded or its failure shown and
// the port is closed again.
//
// The main window and the headless poller share it: they own the connection,
// the client and the map, tell the cycle where their settings are, and receive
// the error-bar texts and grid refreshes through callbacks.

#include <cstdint>
#include <functional>
#include <string>

#include "ModbusClient.h"
#include "ModbusConnection.h"
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
  TSerialPort Port = "COM7";           // SerialPortEdit
  TBaudRate BaudRate = br115200;       // the item selected in BaudRateCombo
  TParityScheme Parity = psNone;       // the item selected in ParityCombo
  std::string SlaveAddressText = "1";  // SerialSlaveAddressEdit; its low 8 bits address the meter
  bool FrameEndByLength = false;       // "Fine frame per lunghezza": replies end by their length
  int BytesSequenceIndex = 0;          // SerialBytesSequenceCombo, 0..3
  bool QvztMode = false;               // QvztModeCheckBox: always BS_0_1_2_3
  bool Float32 = false;                // Float32CheckBox
  int MeterInstanceIndex = 0;          // MeterInstanceCombo, 0..4
  std::string DecimalSeparator = ".";  // for the "0.##" value texts
};

class TSerialCollectionCycle {
 public:
  // The settings as they are now; asked at every cycle and at every reply,
  // since the byte sequence and the map options may change in between.
  using TSettingsSource = std::function<TSerialCycleSettings()>;

  // Points the client at the connection and takes its OnHoldingRegistersRead.
  // Connection, Client and Map must outlive the cycle.
  TSerialCollectionCycle(TModbusConnection& Connection, TModbusClient& Client, TRegisterMap& Map,
                         TSettingsSource Settings);
  ~TSerialCollectionCycle();
  TSerialCollectionCycle(const TSerialCollectionCycle&) = delete;
  TSerialCollectionCycle& operator=(const TSerialCollectionCycle&) = delete;

  // Sets the text of the red error bar and shows it.
  std::function<void(const std::string& Text)> OnShowError;
  // Hides the error bar.
  std::function<void()> OnHideError;
  // The window's UpdateGridData(pDataAvail); without it the cycle refreshes
  // the map's grid texts itself.
  std::function<void(bool pDataAvail)> OnUpdateGridData;
  // After a reply has been handled, for callers that wait for it.
  std::function<void(const TTransactionInfo& Info)> OnReplyHandled;

  // A poll starts. A port still open from an earlier poll (its last request
  // was a broadcast, or its reply never came) is closed first, so that the
  // settings entered since then can be applied.
  void StartPoll();

  // Writes the settings, opens the port and queues one read of the whole map.
  // True when the request was queued. When the port cannot be opened or the
  // request is refused, the error bar shows the library's message and the
  // result is false. A slave address text that is not an integer, or a port
  // change refused while the port is open, raises before anything is opened.
  bool CollectDataSerial();

  // One poll tick: CollectDataSerial, and the grid shows "<N/A>" when it
  // failed. The caller stops its poll on false.
  bool PollSerialUpdate();

  // OnHoldingRegistersRead of the client.
  void ModbusClient1HoldingRegistersRead(TModbusClient& Sender, const TTransactionInfo& Info,
                                         std::uint16_t StartReg, std::uint16_t RegCount,
                                         const TRegValues& RegValues);

  // How the last reply ended: decoded into the map ...
  bool Decoded() const { return FDecoded; }
  // ... with the first entry saying that the meter answers (always true for
  // a map without the firmware-version entry).
  bool DataAvailable() const { return FDataAvailable; }
  // The message of the error that kept the last cycle from queuing its request.
  const std::string& LastError() const { return FLastError; }

 private:
  // Registers the map spans in the layout of the settings, before any cut to 16 bits.
  std::int32_t SpannedRegisters(const TSerialCycleSettings& Settings) const;
  void ShowError(const std::string& Text);
  void UpdateGridData(bool DataAvail, bool Float32);
  void CloseQuietly();

  TModbusConnection& FConnection;
  TModbusClient& FClient;
  TRegisterMap& FMap;
  TSettingsSource FSettings;
  // Identifier of the request queued last. Only its reply closes the port, so
  // that a request queued behind an earlier one is not discarded with it.
  std::uint32_t FLastRequestID = 0;
  bool FDecoded = false;
  bool FDataAvailable = false;
  std::string FLastError;
};
