#include "LineMonitor.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "ModbusConnection.h"
#include "MonitorPrinter.h"
#include "MonitorTap.h"
#include "SerialLine.h"

namespace {

constexpr char PROGRAM[] = "kq517mon: ";
// How long the loop waits for the library's messages before it prints what
// the worker reported meanwhile and looks at the stop request again.
constexpr std::chrono::milliseconds PRINT_INTERVAL{50};

void ApplyLineSettings(TModbusConnection& Connection, const TMonitorOptions& Options) {
  Connection.SetPort(Options.Port);
  SetBitRate(Connection, Options.BaudRate);
  Connection.SetParity(Options.Parity);
  Connection.SetDataBits(Options.DataBits);
  Connection.SetStopBits(Options.StopBits);
  Connection.SetTransmissionMode(Options.Mode);
  Connection.SetConnectionMode(cmMonitor);
  // The query ends by the length its function code announces, and the reply after it by
  // the length that query calls for.
  Connection.SetFrameEndByLength(Options.FrameEndByLength);
  // RTS high would switch many RS-485 adapters to sending, silencing what we
  // came to hear and holding the bus.
  Connection.SetRTSEnabled(false);
}

std::string MessageOf(const std::exception_ptr& Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown failure";
  }
}

std::string Describe(const TMonitorOptions& Options) {
  return std::string(Options.Mode == tmASCII ? "ASCII" : "RTU") + ", " +
         std::to_string(Options.BaudRate) + " baud, parity " + ParityWord(Options.Parity) + ", " +
         (Options.DataBits == db7 ? "7 data bits, " : "") +
         (Options.StopBits == sb2 ? "2 stop bits" : "1 stop bit") +
         (Options.FrameEndByLength && Options.Mode == tmRTU ? ", frames end by length" : "");
}

}  // namespace

int RunLineMonitor(const TMonitorOptions& Options, std::ostream& Out, std::ostream& Err,
                   const TStopSignal& Stop) {
  TQueuedMainThread& mainThread = DefaultMainThread();
  mainThread.SetOwnerThread(std::this_thread::get_id());
  std::string failure;
  SetApplicationExceptionHandler([&failure](std::exception_ptr Error) {
    if (failure.empty()) failure = MessageOf(Error);
  });

  TMonitorTap tap;
  TModbusConnection connection;
  connection.SetMainThread(mainThread);
  const auto token = connection.FrameHook().Subscribe(
      [&tap](const TFrameRecord& Received) { tap.Take(Received); });

  const auto printPending = [&] {
    std::uint64_t dropped = 0;
    for (const TTrafficEntry& entry : tap.TakeAll(&dropped))
      PrintMonitorEntry(Out, Options.Format, entry);
    if (dropped > 0)
      Err << PROGRAM << dropped << " frames not shown: the output did not keep up" << std::endl;
  };

  try {
    ApplyLineSettings(connection, Options);
    connection.Open();
  } catch (const std::exception& error) {
    Err << PROGRAM << error.what() << std::endl;
    connection.FrameHook().Unsubscribe(token);
    SetApplicationExceptionHandler(nullptr);
    return 1;
  }
  Err << PROGRAM << "listening on " << Options.Port << " (" << Describe(Options)
      << "); Ctrl-C stops" << std::endl;

  while (!Stop.Requested() && failure.empty() && Out) {
    mainThread.ProcessMessagesUntil([] { return false; }, PRINT_INTERVAL);
    printPending();
  }
  connection.FrameHook().Unsubscribe(token);
  connection.Close();
  mainThread.ProcessMessages();
  printPending();
  SetApplicationExceptionHandler(nullptr);

  int status = 0;
  if (!failure.empty()) {
    Err << PROGRAM << "serial line: " << failure << std::endl;
    status = 1;
  } else if (!Out) {
    Err << PROGRAM << "cannot write to standard output" << std::endl;
    status = 1;
  }
  Err << tap.Statistics().Line() << std::endl;
  return status;
}
