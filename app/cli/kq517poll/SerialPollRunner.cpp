#include "SerialPollRunner.h"

#include "PollRunner.h"
#include "SerialCollectionCycle.h"
#include "ValueDecoding.h"

#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

// Beyond the line's own time-outs, how long a reply may take to come back
// from the worker thread before the cycle is given up.
constexpr std::chrono::milliseconds REPLY_EVENT_MARGIN{2000};

TSerialCycleSettings CycleSettings(const TSerialTarget& Target, const TPollOptions& Options) {
  TSerialCycleSettings settings;
  settings.Port = Target.Port;
  settings.BaudRate = Target.BaudRate;
  settings.Parity = Target.Parity;
  settings.SlaveAddressText = std::to_string(Target.SlaveAddress);
  settings.BytesSequenceIndex = Options.ByteSequenceIndex.value_or(BS_1_0_3_2);
  settings.QvztMode = Options.Qvzt;
  settings.Float32 = Options.Float32;
  settings.MeterInstanceIndex = Options.MeterInstanceIndex;
  settings.DecimalSeparator = CLocaleDecimalSeparator();
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

int RunSerialPoll(const TSerialTarget& Target, const TPollOptions& Options, TRegisterMap& Map,
                  std::ostream& Out, std::ostream& Err) {
  TQueuedMainThread& mainThread = DefaultMainThread();
  mainThread.SetOwnerThread(std::this_thread::get_id());
  TModbusConnection connection;
  connection.SetMainThread(mainThread);
  TModbusClient client;
  const TSerialCycleSettings settings = CycleSettings(Target, Options);
  TSerialCollectionCycle cycle(connection, client, Map, [&settings] { return settings; });

  std::vector<std::string> errorBar;
  std::optional<TTransactionInfo> reply;
  std::string workerError;
  cycle.OnShowError = [&](const std::string& Text) { errorBar.push_back(Text); };
  cycle.OnReplyHandled = [&](const TTransactionInfo& Info) { reply = Info; };
  // What the library's worker reports would otherwise only be printed by it.
  SetApplicationExceptionHandler([&](std::exception_ptr Error) { workerError = MessageOf(Error); });
  struct TRestoreHandler {
    ~TRestoreHandler() { SetApplicationExceptionHandler(nullptr); }
  } restoreHandler;

  TPollPrinter printer(Out, Options.Format);
  int status = POLL_EXIT_OK;
  const auto fail = [&](int n, const std::string& Reason) {
    status = POLL_EXIT_FAILED;
    Err << PROGRAM << "cycle " << n << " of " << Options.Count << ": " << Reason << '\n';
  };
  cycle.StartPoll();
  for (int n = 1; n <= Options.Count; ++n) {
    if (n > 1 && Options.IntervalSeconds > 0)
      std::this_thread::sleep_for(std::chrono::duration<double>(Options.IntervalSeconds));
    errorBar.clear();
    reply.reset();
    workerError.clear();

    bool queued = false;
    try {
      queued = cycle.PollSerialUpdate();
    } catch (const std::exception& error) {
      Err << PROGRAM << error.what() << '\n';
      return POLL_EXIT_FAILED;
    }
    if (!queued) {
      printer.PrintCycle(Map.Grid().Rows());
      fail(n, cycle.LastError());
      break;  // the window stops its poll here too
    }

    const bool answered = mainThread.ProcessMessagesUntil(
        [&] { return reply.has_value() || !workerError.empty(); }, ReplyWait(connection));
    printer.PrintCycle(Map.Grid().Rows());
    if (!workerError.empty())
      fail(n, workerError);
    else if (!answered)
      fail(n, "the serial link did not report the reply");
    else if (!cycle.Decoded())
      fail(n, errorBar.empty() ? ServerReplyText(*reply) : errorBar.back());
    else if (!cycle.DataAvailable())
      fail(n, "values not available: the firmware version register reads 0xFFFF "
              "(the meter instance does not answer)");
  }
  return status;
}
