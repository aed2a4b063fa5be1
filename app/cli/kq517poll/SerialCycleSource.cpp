#include "SerialCycleSource.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <thread>

namespace {

// Beyond the line's own time-outs, how long a reply may take to come back
// from the worker thread before the cycle is given up.
constexpr std::chrono::milliseconds REPLY_EVENT_MARGIN{2000};

TSerialCycleSettings CycleSettings(const TPollOptions& Options) {
  TSerialCycleSettings settings;
  settings.Port = Options.Serial.Port;
  settings.BitRate = Options.Serial.BitRate;
  settings.Parity = Options.Serial.Parity;
  settings.Mode = Options.Serial.Mode;
  settings.DataBits = Options.Serial.DataBits;
  settings.StopBits = Options.Serial.StopBits;
  settings.Function = Options.Function;
  settings.LeaveStreamOpen = Options.LeaveOpen;
  settings.SlaveAddress = static_cast<std::uint8_t>(Options.Serial.SlaveAddress);
  settings.FrameEndByLength = Options.Serial.FrameEndByLength;
  settings.BytesSequenceIndex = Options.ByteSequenceIndex.value_or(BS_1_0_3_2);
  settings.QvztMode = Options.Qvzt;
  settings.Float32 = Options.Float32;
  settings.MeterInstanceIndex = Options.MeterInstanceIndex;
  return settings;
}

// The longest the worker may spend on one request: every attempt may use up
// its send and its receive time-out.
std::chrono::milliseconds ReplyWait(const TModbusConnection& Connection) {
  const auto attempt = std::chrono::milliseconds(Connection.SendTimeout()) +
                       std::chrono::milliseconds(Connection.ReceiveTimeout()) +
                       std::chrono::milliseconds(Connection.TurnaroundDelay()) +
                       std::chrono::milliseconds(Connection.RefetchDelay());
  return attempt * static_cast<long>(Connection.MaxRetries()) + REPLY_EVENT_MARGIN;
}

std::string MessageOf(std::exception_ptr Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace

TSerialCycleSource::TSerialCycleSource(const TPollOptions& Options, TRegisterMap& Map)
    : FMainThread(DefaultMainThread()),
      FSettings(CycleSettings(Options)),
      FCycle(FConnection, FClient, Map, [this] { return FSettings; }) {
  FMainThread.SetOwnerThread(std::this_thread::get_id());
  FConnection.SetMainThread(FMainThread);
  // Through a serial device server the connect is bounded as over --tcp.
  FConnection.SetConnectTimeout(
      static_cast<std::uint32_t>(std::lround(Options.Tcp.ConnectTimeoutSeconds * 1000)));
  FCycle.OnCycleEnded = [this](const TCycleOutcome& Outcome) { FOutcome = Outcome; };
  // What the library's worker reports would otherwise only be printed by it.
  SetApplicationExceptionHandler(
      [this](std::exception_ptr Error) { FWorkerError = MessageOf(Error); });
  FCycle.StartPoll();
}

TSerialCycleSource::~TSerialCycleSource() {
  SetApplicationExceptionHandler(nullptr);
}

TCycleOutcome TSerialCycleSource::RunCycle() {
  FOutcome.reset();
  FWorkerError.clear();
  if (!FCycle.CollectDataSerial()) return FOutcome.value_or(TCycleOutcome{});
  const bool answered = FMainThread.ProcessMessagesUntil(
      [this] { return FOutcome.has_value() || !FWorkerError.empty(); }, ReplyWait(FConnection));
  if (FWorkerError.empty() && answered) return *FOutcome;
  TCycleOutcome outcome;
  outcome.Error = !FWorkerError.empty() ? FWorkerError : "the serial link did not report the reply";
  return outcome;
}
