#include "SerialCycleSource.h"

#include <chrono>
#include <exception>
#include <thread>

namespace {

// Beyond the line's own time-outs, how long a reply may take to come back
// from the worker thread before the cycle is given up.
constexpr std::chrono::milliseconds REPLY_EVENT_MARGIN{2000};

TSerialCycleSettings CycleSettings(const TPollOptions& Options) {
  TSerialCycleSettings settings;
  settings.Port = Options.Serial.Port;
  settings.BaudRate = Options.Serial.BaudRate;
  settings.Parity = Options.Serial.Parity;
  settings.SlaveAddressText = std::to_string(Options.Serial.SlaveAddress);
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
    : FOptions(Options),
      FMainThread(DefaultMainThread()),
      FSettings(CycleSettings(Options)),
      FCycle(FConnection, FClient, Map, [this] { return FSettings; }) {
  FMainThread.SetOwnerThread(std::this_thread::get_id());
  FConnection.SetMainThread(FMainThread);
  FCycle.OnShowError = [this](const std::string& Text) { FErrorBar.push_back(Text); };
  FCycle.OnReplyHandled = [this](const TTransactionInfo& Info) { FReply = Info; };
  // What the library's worker reports would otherwise only be printed by it.
  SetApplicationExceptionHandler(
      [this](std::exception_ptr Error) { FWorkerError = MessageOf(Error); });
  FCycle.StartPoll();
}

TSerialCycleSource::~TSerialCycleSource() {
  SetApplicationExceptionHandler(nullptr);
}

TCycleOutcome TSerialCycleSource::RunCycle() {
  FErrorBar.clear();
  FReply.reset();
  FWorkerError.clear();
  TCycleOutcome outcome;
  if (!FCycle.PollSerialUpdate()) {
    outcome.EndsPoll = true;  // the window stops its poll here too
    outcome.Error = FCycle.LastError();
    return outcome;
  }
  const bool answered = FMainThread.ProcessMessagesUntil(
      [this] { return FReply.has_value() || !FWorkerError.empty(); }, ReplyWait(FConnection));
  if (!FWorkerError.empty())
    outcome.Error = FWorkerError;
  else if (!answered)
    outcome.Error = "the serial link did not report the reply";
  else if (!FCycle.Decoded())
    outcome.Error = FErrorBar.empty() ? ServerReplyText(*FReply) : FErrorBar.back();
  else if (!FCycle.DataAvailable())
    outcome.Error = MeterNotPresentText(FOptions.MeterInstanceIndex);
  else
    outcome.Ok = true;
  return outcome;
}
