#pragma once
// Finding a meter on a serial line: every combination of baud rate, parity
// and slave address is asked for the firmware-version word (register 0, the
// first register of the normal map for meter instance 1). Each try waits only
// as long as a reply takes at that baud rate plus a margin for the meter to
// answer, so a full scan of five rates, three parities and 247 addresses
// takes about two minutes instead of an hour at the library's 1 s time-out.
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

struct TSerialScanSettings {
  TSerialPort Port;
  std::vector<TBaudRate> BaudRates = {br9600, br19200, br38400, br57600, br115200};
  std::vector<TParityScheme> Parities = {psNone, psEven, psOdd};
  int FirstSlave = MIN_SLAVE_ADDRESS;
  int LastSlave = MAX_SLAVE_ADDRESS;
  std::uint32_t ReplyMarginMs = SCAN_REPLY_MARGIN_MS;
};

// A setting at which a slave answered.
struct TScanFound {
  TBaudRate BaudRate = br115200;
  TParityScheme Parity = psNone;
  int Slave = 1;
  // The firmware-version word; empty when the slave answered with an exception.
  std::optional<std::uint16_t> Firmware;
  std::uint8_t ExceptionCode = 0;
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
// 10 or 11 bits), the frame-end silences, and the margin.
std::uint32_t ScanTryTimeout(TBaudRate BaudRate, TParityScheme Parity, std::uint32_t MarginMs);

// "found: slave 7, 19200 baud, parity even, firmware 103"; an exception reply
// reads "..., exception 2 instead of the firmware word", and a gateway whose
// first meter instance is switched off "..., firmware word FFFF (meter
// instance 1 not present)".
std::string FoundText(const TScanFound& Found);

class TSerialScan {
 public:
  explicit TSerialScan(TSerialScanSettings Settings);

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
