#include "SerialCycleSource.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <thread>

#include "ModLinkConsts.h"

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
    : FMap(Map),
      FMainThread(DefaultMainThread()),
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
  // A map larger than one request is read in blocks, each its own exchange.
  const TMapSettings map{FSettings.Float32, FSettings.MeterInstanceIndex};
  const long blocks =
      std::max<long>(1, (FMap.RequestSize(map) + MaxReadRegisterCount - 1) / MaxReadRegisterCount);
  const auto deadline = std::chrono::steady_clock::now() + ReplyWait(FConnection) * blocks;
  // In slices, so that a stop ends the wait at once.
  constexpr std::chrono::milliseconds SLICE{100};
  const auto done = [this] { return FOutcome.has_value() || !FWorkerError.empty(); };
  bool answered = false;
  bool aborted = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    answered = FMainThread.ProcessMessagesUntil(
        done, std::clamp(left, std::chrono::milliseconds(0), SLICE));
    if (answered || left <= SLICE) break;
    if (FAborted && FAborted()) {
      aborted = true;
      break;
    }
  }
  if (FWorkerError.empty() && answered) return *FOutcome;
  TCycleOutcome outcome;
  outcome.Error = !FWorkerError.empty() ? FWorkerError
                  : aborted             ? "stopped while waiting for the reply"
                                        : "the serial link did not report the reply";
  return outcome;
}
