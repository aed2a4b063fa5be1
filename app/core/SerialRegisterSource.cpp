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

std::optional<TTransactionInfo> TSerialRegisterSource::Transact(
    const std::function<std::uint32_t()>& Send, std::vector<std::uint16_t>& Words,
    std::string& Error) {
  FLastReply = srNone;
  FLastExceptionCode = 0;
  FPortFailed = false;
  std::optional<TTransactionInfo> reply;
  std::uint32_t requestId = 0;
  // A late answer to a request given up earlier carries another id.
  const auto take = [&](const TTransactionInfo& Info, const TRegValues* Values) {
    if (Info.ID != requestId) return;
    reply = Info;
    if (Values != nullptr && Info.Reply == srNormalReply) Words = *Values;
  };
  const auto readEvent = [&](TModbusClient&, const TTransactionInfo& Info, std::uint16_t,
                             std::uint16_t, const TRegValues& Values) { take(Info, &Values); };
  FClient.OnHoldingRegistersRead = readEvent;
  FClient.OnInputRegistersRead = readEvent;
  FClient.OnMultipleRegistersWrite = [&](TModbusClient&, const TTransactionInfo& Info,
                                         std::uint16_t, std::uint16_t,
                                         const TRegValues&) { take(Info, nullptr); };
  FClient.OnSingleRegisterWrite = [&](TModbusClient&, const TTransactionInfo& Info, std::uint16_t,
                                      std::uint16_t) { take(Info, nullptr); };
  const auto forgetEvents = [this] {
    FClient.OnHoldingRegistersRead = nullptr;
    FClient.OnInputRegistersRead = nullptr;
    FClient.OnMultipleRegistersWrite = nullptr;
    FClient.OnSingleRegisterWrite = nullptr;
  };
  try {
    FClient.SetServerAddress(FSettings.Slave);
    FConnection.Open();
    requestId = Send();
  } catch (const std::exception& error) {
    forgetEvents();
    FPortFailed = true;
    Error = error.what();
    if (Error == ModLinkMessages::SCouldNotOpenPort)
      Error = SerialOpenFailureText(Error, FSettings.Port);
    return std::nullopt;
  }

  const auto attempt =
      std::chrono::milliseconds(FConnection.SendTimeout() + FConnection.ReceiveTimeout());
  const auto deadline = std::chrono::steady_clock::now() +
                        attempt * static_cast<long>(FConnection.MaxRetries()) + REPORT_MARGIN;
  while (!reply && !FStop && std::chrono::steady_clock::now() < deadline)
    FMainThread.ProcessMessagesUntil([&] { return reply.has_value(); }, STOP_POLL);
  forgetEvents();

  if (!reply) {
    // Whatever is still queued belongs to a request that is over: drop it
    // with the worker, so that it cannot be taken for the next one's reply.
    try {
      FConnection.Close();
    } catch (...) {
    }
    Error = FStop ? "stopped" : "the serial link did not report the reply";
    return std::nullopt;
  }
  FLastReply = reply->Reply;
  FLastExceptionCode = reply->ExceptionCode;
  if (reply->Reply != srNormalReply) Error = ServerReplyText(*reply);
  return reply;
}

TRegisterRead TSerialRegisterSource::Read(std::uint16_t Start, std::uint32_t Count) {
  return ReadTable(EReadFunction::rfHoldingRegisters, Start, Count);
}

TRegisterRead TSerialRegisterSource::ReadTable(EReadFunction Table, std::uint16_t Start,
                                               std::uint32_t Count) {
  TRegisterRead read;
  if (Count == 0 || Count > 125) {
    FLastReply = srNone;
    FLastExceptionCode = 0;
    FPortFailed = false;
    read.Error = "a serial read takes 1 to 125 registers, not " + std::to_string(Count);
    return read;
  }
  const auto count = static_cast<std::uint16_t>(Count);
  const auto reply = Transact(
      [&] {
        return Table == EReadFunction::rfInputRegisters
                   ? FClient.ReadInputRegisters(Start, count, nullptr)
                   : FClient.ReadHoldingRegisters(Start, count, nullptr);
      },
      read.Words, read.Error);
  read.Ok = reply && reply->Reply == srNormalReply && read.Words.size() >= Count;
  if (!read.Ok && reply && reply->Reply == srNormalReply) read.Error = INVALID_FRAME_TEXT;
  return read;
}

TRegisterWrite TSerialRegisterSource::Write(std::uint16_t Start,
                                            const std::vector<std::uint16_t>& Words, bool Single) {
  TRegisterWrite write;
  write.Error = WriteRangeRefusal(Start, Words.size(), Single);
  if (!write.Error.empty()) return write;
  std::vector<std::uint16_t> none;
  const auto reply = Transact(
      [&] {
        return Single ? FClient.WriteSingleRegister(Start, Words[0], nullptr)
                      : FClient.WriteMultipleRegisters(Start, Words, nullptr);
      },
      none, write.Error);
  write.Ok = reply && reply->Reply == srNormalReply;
  if (reply && reply->Reply == srExceptionReply) write.ExceptionCode = reply->ExceptionCode;
  return write;
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
