#include "SerialRegisterSource.h"

#include <chrono>
#include <exception>
#include <optional>

#include "ModLinkMessages.h"
#include "SerialCollectionCycle.h"
#include "SerialOpenFailure.h"

namespace {

// A read gives the line its time-out per attempt and this much more for the
// worker thread to report back, so that a wedged worker cannot hold the caller.
constexpr std::chrono::milliseconds REPORT_MARGIN{2000};
// How often a waiting read looks at the stop request.
constexpr std::chrono::milliseconds STOP_POLL{20};

}  // namespace

TSerialRegisterSource::TSerialRegisterSource(const TSerialSourceSettings& Settings)
    : FSettings(Settings) {
  FConnection.SetMainThread(FMainThread);
  FConnection.SetPort(Settings.Port);
  SetBitRate(FConnection, Settings.BitRate);
  FConnection.SetParity(Settings.Parity);
  FConnection.SetDataBits(Settings.DataBits);
  FConnection.SetStopBits(Settings.StopBits);
  FConnection.SetTransmissionMode(Settings.Mode);
  FConnection.SetReceiveTimeout(Settings.ReplyTimeoutMs);
  FConnection.SetMaxRetries(Settings.MaxRetries);
  FClient.SetConnection(&FConnection);
}

TSerialRegisterSource::~TSerialRegisterSource() {
  FClient.OnHoldingRegistersRead = nullptr;
  try {
    FConnection.Close();
  } catch (...) {
    // Closing ends the worker; there is no one left to tell.
  }
}

void TSerialRegisterSource::SetLine(std::uint32_t BitRate, TParityScheme Parity) {
  FSettings.BitRate = BitRate;
  FSettings.Parity = Parity;
  SetBitRate(FConnection, BitRate);
  FConnection.SetParity(Parity);
}

void TSerialRegisterSource::SetReplyTimeout(std::uint32_t Milliseconds) {
  FSettings.ReplyTimeoutMs = Milliseconds;
  FConnection.SetReceiveTimeout(Milliseconds);
}

TRegisterRead TSerialRegisterSource::Read(std::uint16_t Start, std::uint32_t Count) {
  TRegisterRead read;
  FLastReply = srNone;
  FLastExceptionCode = 0;
  FPortFailed = false;
  if (Count == 0 || Count > 125) {
    read.Error = "a serial read takes 1 to 125 registers, not " + std::to_string(Count);
    return read;
  }
  std::optional<TTransactionInfo> reply;
  std::uint32_t requestId = 0;
  FClient.OnHoldingRegistersRead = [&](TModbusClient&, const TTransactionInfo& Info, std::uint16_t,
                                       std::uint16_t, const TRegValues& Values) {
    if (Info.ID != requestId) return;  // a late answer to a read given up earlier
    reply = Info;
    if (Info.Reply == srNormalReply) read.Words = Values;
  };
  try {
    FClient.SetServerAddress(FSettings.Slave);
    FConnection.Open();
    requestId = FClient.ReadHoldingRegisters(Start, static_cast<std::uint16_t>(Count), nullptr);
  } catch (const std::exception& error) {
    FClient.OnHoldingRegistersRead = nullptr;
    FPortFailed = true;
    read.Error = error.what();
    if (read.Error == ModLinkMessages::SCouldNotOpenPort)
      read.Error = SerialOpenFailureText(read.Error, FSettings.Port);
    return read;
  }

  const auto attempt =
      std::chrono::milliseconds(FConnection.SendTimeout() + FConnection.ReceiveTimeout());
  const auto deadline = std::chrono::steady_clock::now() +
                        attempt * static_cast<long>(FConnection.MaxRetries()) + REPORT_MARGIN;
  while (!reply && !FStop && std::chrono::steady_clock::now() < deadline)
    FMainThread.ProcessMessagesUntil([&] { return reply.has_value(); }, STOP_POLL);
  FClient.OnHoldingRegistersRead = nullptr;

  if (!reply) {
    // Whatever is still queued belongs to a read that is over: drop it with
    // the worker, so that it cannot be taken for the next read's reply.
    try {
      FConnection.Close();
    } catch (...) {
    }
    read.Error = FStop ? "stopped" : "the serial link did not report the reply";
    return read;
  }
  FLastReply = reply->Reply;
  FLastExceptionCode = reply->ExceptionCode;
  read.Ok = reply->Reply == srNormalReply && read.Words.size() >= Count;
  if (!read.Ok)
    read.Error = reply->Reply == srNormalReply ? INVALID_FRAME_TEXT : ServerReplyText(*reply);
  return read;
}

std::string DescribeSerialSource(const TSerialSourceSettings& Settings) {
  const std::string mode = Settings.Mode == tmASCII ? "Modbus ASCII " : "Modbus RTU ";
  const std::string slave = "slave " + std::to_string(Settings.Slave);
  if (IsTcpPortName(Settings.Port)) return mode + Settings.Port + ", " + slave;
  return mode + Settings.Port + ", " + std::to_string(Settings.BitRate) + " baud, parity " +
         ParityWord(Settings.Parity) + ", " + slave;
}

std::string TSerialRegisterSource::Describe() const {
  return DescribeSerialSource(FSettings);
}
