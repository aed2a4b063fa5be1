#pragma once
// Finding a meter on a serial line: every combination of baud rate, parity
// and slave address is asked for the firmware-version word (register 0, the
// first register of the normal map for meter instance 1). Each try waits only
// as long as a reply takes at that baud rate plus a margin for the meter to
// answer, so a full scan of five rates, three parities and 247 addresses
// takes about two minutes instead of an hour at the library's 1 s time-out.
//
// Behind a serial device server (a port named tcp://HOST:PORT) the bit rate
// and parity are the server's own: only the addresses are tried, once each,
// with SCAN_TCP_TRY_TIMEOUT_MS per try.
//
// The scan runs on the calling thread; another thread may stop it, and what
// it found until then is kept.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ModLinkTypes.h"
#include "SerialLine.h"

class TSerialRegisterSource;

// The meter's time to answer, on top of the reply's time on the wire.
inline constexpr std::uint32_t SCAN_REPLY_MARGIN_MS = 25;
// One try through a serial device server: the network both ways and the
// server's own line, down to 1200 baud.
inline constexpr std::uint32_t SCAN_TCP_TRY_TIMEOUT_MS = 300;

struct TSerialScanSettings {
  TSerialPort Port;
  std::vector<TBaudRate> BaudRates = {br9600, br19200, br38400, br57600, br115200};
  std::vector<TParityScheme> Parities = {psNone, psEven, psOdd};
  int FirstSlave = MIN_SLAVE_ADDRESS;
  int LastSlave = MAX_SLAVE_ADDRESS;
  std::uint32_t ReplyMarginMs = SCAN_REPLY_MARGIN_MS;
  TTransmissionMode Mode = tmRTU;
  TDataBits DataBits = db8;
  TStopBits StopBits = sb1;
};

// A setting at which a slave answered.
struct TScanFound {
  TBaudRate BaudRate = br115200;
  TParityScheme Parity = psNone;
  int Slave = 1;
  // The firmware-version word; empty when the slave answered with an exception.
  std::optional<std::uint16_t> Firmware;
  std::uint8_t ExceptionCode = 0;
  bool OverTcp = false;  // behind a serial device server: no bit rate or parity of ours
};

struct TScanProgress {
  int Done = 0;   // tries made
  int Total = 0;  // tries in the whole scan
  TBaudRate BaudRate = br115200;
  TParityScheme Parity = psNone;
  int Slave = 1;  // the address being tried
};

struct TScanResult {
  std::vector<TScanFound> Found;
  bool Stopped = false;  // ended by RequestStop before the last try
  std::string Error;     // the port could not be used; nothing was tried
};

// Milliseconds one try may wait for the reply to the firmware-word read at
// this baud rate and parity: query and reply on the wire (8 + 7 characters of
// 10 or 11 bits), the frame-end silences, and the margin. In ASCII every byte
// is two characters, and a frame has three more (':' and CR LF).
std::uint32_t ScanTryTimeout(TBaudRate BaudRate, TParityScheme Parity, std::uint32_t MarginMs,
                             TTransmissionMode Mode = tmRTU);

// "found: slave 7, 19200 baud, parity even, firmware 103"; an exception reply
// reads "..., exception 2 instead of the firmware word", and a gateway whose
// first meter instance is switched off "..., firmware word FFFF (meter
// instance 1 not present)". Behind a serial device server the bit rate and
// parity are left out: "found: slave 7, firmware 103".
std::string FoundText(const TScanFound& Found);

class TSerialScan {
 public:
  explicit TSerialScan(TSerialScanSettings Settings);
  // Whether the port is a serial device server's: one pass, no line settings.
  bool OverTcp() const;

  // Tries every setting in order (baud rates, then parities, then addresses).
  TScanResult Run();
  // Any thread: the scan ends after the try in progress.
  void RequestStop();

  int TotalTries() const;
  std::function<void(const TScanFound&)> OnFound;        // on Run's thread
  std::function<void(const TScanProgress&)> OnProgress;  // before every try, on Run's thread

 private:
  class TSourceRegistration;

  TSerialScanSettings FSettings;
  std::atomic<bool> FStop{false};
  // The source of the running scan, for RequestStop; guarded by FSourceLock.
  std::mutex FSourceLock;
  TSerialRegisterSource* FSource = nullptr;
};
