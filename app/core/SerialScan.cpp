#include "SerialScan.h"

#include <algorithm>

#include "MeterPresence.h"
#include "SerialRegisterSource.h"

namespace {

constexpr std::uint16_t FIRMWARE_WORD_ADDRESS = 0;
// Characters of the firmware-word read (address, function, start, count, CRC)
// and of its reply (address, function, byte count, one word, CRC).
constexpr std::uint32_t QUERY_CHARACTERS = 8;
constexpr std::uint32_t REPLY_CHARACTERS = 7;
// Silence that ends an RTU frame, in characters, after the query and the reply.
constexpr double FRAME_END_CHARACTERS = 2 * 3.5;

}  // namespace

std::uint32_t ScanTryTimeout(TBaudRate BaudRate, TParityScheme Parity, std::uint32_t MarginMs,
                             TTransmissionMode Mode) {
  const std::uint32_t rate = BitsPerSecond(BaudRate);
  if (rate == 0) return 1000 + MarginMs;
  const double bitsPerCharacter = Parity == psNone ? 10.0 : 11.0;
  const double characters =
      Mode == tmASCII ? 2.0 * (QUERY_CHARACTERS + REPLY_CHARACTERS) + 2 * 3 + FRAME_END_CHARACTERS
                      : QUERY_CHARACTERS + REPLY_CHARACTERS + FRAME_END_CHARACTERS;
  const double wireMs = characters * bitsPerCharacter * 1000.0 / rate;
  return static_cast<std::uint32_t>(wireMs + 0.999) + MarginMs;
}

std::string FoundText(const TScanFound& Found) {
  std::string text = "found: slave " + std::to_string(Found.Slave);
  if (!Found.OverTcp)
    text += ", " + std::to_string(BitsPerSecond(Found.BaudRate)) + " baud, parity " +
            ParityWord(Found.Parity);
  if (Found.Firmware == ABSENT_METER_WORD)
    return text + ", firmware word FFFF (meter instance 1 not present)";
  if (Found.Firmware) return text + ", firmware " + std::to_string(*Found.Firmware);
  return text + ", exception " + std::to_string(Found.ExceptionCode) +
         " instead of the firmware word";
}

TSerialScan::TSerialScan(TSerialScanSettings Settings) : FSettings(std::move(Settings)) {
  if (OverTcp()) {
    // The server's line has one bit rate and parity, and the stream ignores ours.
    FSettings.BaudRates.resize(std::min<std::size_t>(FSettings.BaudRates.size(), 1));
    FSettings.Parities.resize(std::min<std::size_t>(FSettings.Parities.size(), 1));
  }
}

bool TSerialScan::OverTcp() const {
  return IsTcpPortName(FSettings.Port);
}

int TSerialScan::TotalTries() const {
  const int slaves = FSettings.LastSlave >= FSettings.FirstSlave
                         ? FSettings.LastSlave - FSettings.FirstSlave + 1
                         : 0;
  return static_cast<int>(FSettings.BaudRates.size() * FSettings.Parities.size()) * slaves;
}

// Makes the running scan's source reachable from RequestStop for as long as
// it lives.
class TSerialScan::TSourceRegistration {
 public:
  TSourceRegistration(TSerialScan& Scan, TSerialRegisterSource& Source) : FScan(Scan) {
    std::lock_guard guard(FScan.FSourceLock);
    FScan.FSource = &Source;
    if (FScan.FStop) Source.RequestStop();
  }
  ~TSourceRegistration() {
    std::lock_guard guard(FScan.FSourceLock);
    FScan.FSource = nullptr;
  }
  TSourceRegistration(const TSourceRegistration&) = delete;
  TSourceRegistration& operator=(const TSourceRegistration&) = delete;

 private:
  TSerialScan& FScan;
};

void TSerialScan::RequestStop() {
  FStop = true;
  // Ends the wait of the try in progress too.
  std::lock_guard guard(FSourceLock);
  if (FSource) FSource->RequestStop();
}

TScanResult TSerialScan::Run() {
  TScanResult result;
  TScanProgress progress;
  progress.Total = TotalTries();
  TSerialSourceSettings lineSettings;
  lineSettings.Port = FSettings.Port;
  lineSettings.Mode = FSettings.Mode;
  lineSettings.DataBits = FSettings.DataBits;
  lineSettings.StopBits = FSettings.StopBits;
  TSerialRegisterSource source(lineSettings);
  const bool overTcp = OverTcp();
  const TSourceRegistration registration(*this, source);

  for (const TBaudRate rate : FSettings.BaudRates) {
    for (const TParityScheme parity : FSettings.Parities) {
      source.SetLine(BitsPerSecond(rate), parity);
      source.SetReplyTimeout(
          overTcp ? SCAN_TCP_TRY_TIMEOUT_MS
                  : ScanTryTimeout(rate, parity, FSettings.ReplyMarginMs, FSettings.Mode));
      for (int slave = FSettings.FirstSlave; slave <= FSettings.LastSlave; ++slave) {
        if (FStop) {
          result.Stopped = true;
          return result;
        }
        progress.BaudRate = rate;
        progress.Parity = parity;
        progress.Slave = slave;
        if (OnProgress) OnProgress(progress);
        source.SetSlave(static_cast<std::uint8_t>(slave));
        const TRegisterRead read = source.Read(FIRMWARE_WORD_ADDRESS, 1);
        ++progress.Done;
        if (source.PortFailed()) {
          // The port itself failed (missing, busy, no permission): every
          // other try would fail the same way.
          result.Error = read.Error;
          return result;
        }
        TScanFound found{rate, parity, slave, std::nullopt, 0, overTcp};
        if (read.Ok) {
          found.Firmware = read.Words.front();
        } else if (source.LastReply() == srExceptionReply) {
          found.ExceptionCode = source.LastExceptionCode();
        } else {
          continue;
        }
        result.Found.push_back(found);
        if (OnFound) OnFound(found);
      }
    }
  }
  return result;
}
