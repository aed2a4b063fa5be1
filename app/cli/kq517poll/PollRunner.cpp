#include "PollRunner.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>

#include "CommissionRunner.h"
#include "MapFileLookup.h"
#include "Metrics.h"
#include "MetricsServer.h"
#include "PollPrinter.h"
#include "PollTraffic.h"
#include "RegisterToolRunner.h"
#include "SerialCycleSource.h"
#include "StopSignal.h"
#include "TcpCycleSource.h"

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

}  // namespace

bool LoadPollMap(const TPollOptions& Options, TRegisterMap& Map, std::ostream& Err) {
  const std::string name = Options.MapFileName();
  const std::string file = Options.DefaultMapFile() ? FindMapFile(name, ThisProgram()) : name;
  const TMapSettings settings{Options.Float32, Options.MeterInstanceIndex};
  try {
    if (Map.LoadConfig(Options.Qvzt ? mpQVZT : mpNormal, file, settings) != TLoadResult::lrOk) {
      Err << PROGRAM << file << ": " << INVALID_MAP_MESSAGE << ": "
          << MapFaultText(Map.Fault(), false) << '\n';
      return false;
    }
  } catch (const std::exception& error) {
    Err << PROGRAM << "cannot read the map file '" << file << "': " << error.what() << '\n';
    if (Options.DefaultMapFile())
      Err << PROGRAM << "looked for " << name << " in: " << DescribeMapFileFolders(ThisProgram())
          << '\n';
    return false;
  }
  Map.UpdateGridStruct();
  Map.UpdateGridData(false, Options.Float32);
  return true;
}

namespace {

// The log file: CSV with time stamps, appended, the header only when the
// file is new or empty.
std::unique_ptr<std::ofstream> OpenLog(const std::string& File, std::ostream& Err,
                                       bool& HeaderWritten) {
  auto log = std::make_unique<std::ofstream>(File, std::ios::binary | std::ios::app);
  if (!*log) {
    Err << PROGRAM << "cannot open the log file '" << File << "': " << std::strerror(errno) << '\n';
    return nullptr;
  }
  log->seekp(0, std::ios::end);
  HeaderWritten = log->tellp() > 0;
  return log;
}

std::unique_ptr<TCycleSource> SourceFor(const TPollOptions& Options, TRegisterMap& Map) {
  if (Options.Transport == ETransport::trSerial)
    return std::make_unique<TSerialCycleSource>(Options, Map);
  return std::make_unique<TTcpCycleSource>(Options, Map);
}

}  // namespace

int RunPoll(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  if (Options.Commission.Mode != ECommissionMode::cmNone) return RunCommission(Options, Out, Err);
  if (Options.Registers.Tool != ERegisterTool::rtNone) return RunRegisterTool(Options, Out, Err);
  TRegisterMap map;
  if (!LoadPollMap(Options, map, Err)) return POLL_EXIT_FAILED;

  TPrinterSettings outSettings;
  outSettings.Format = Options.Format;
  outSettings.Timestamps = Options.Timestamps;
  outSettings.Bom = Options.Bom;
  outSettings.DecimalSeparator = Options.DecimalSeparator;
  TPollPrinter printer(Out, outSettings);

  std::unique_ptr<std::ofstream> logFile;
  std::unique_ptr<TPollPrinter> log;
  if (!Options.LogFile.empty()) {
    TPrinterSettings logSettings;
    logSettings.Format = EOutputFormat::ofCsv;
    logSettings.Timestamps = true;
    logSettings.Bom = Options.Bom;
    logFile = OpenLog(Options.LogFile, Err, logSettings.HeaderWritten);
    if (!logFile) return POLL_EXIT_FAILED;
    log = std::make_unique<TPollPrinter>(*logFile, logSettings);
  }

  TMetricsState metrics;
  std::unique_ptr<TMetricsServer> server;
  if (Options.MetricsAddress) {
    const THostPort& address = *Options.MetricsAddress;
    try {
      server = std::make_unique<TMetricsServer>(address.Host, address.Port.value_or(0),
                                                [&metrics] { return metrics.Render(); });
    } catch (const std::exception& error) {
      Err << PROGRAM << error.what() << '\n';
      return POLL_EXIT_FAILED;
    }
  }

  const TStopSignal stop;
  TPollLoopHooks hooks;
  hooks.WaitOrStop = [&stop](std::chrono::milliseconds Pause) { return stop.WaitFor(Pause); };
  hooks.Stopped = [&stop] { return stop.Requested(); };
  hooks.OnCycle = [&](const TCycleRecord& Record) {
    // Metrics first: a reader of standard output may scrape as soon as it
    // sees the cycle there.
    if (server) metrics.Record(Record);
    if (!Options.Quiet) {
      printer.PrintCycle(Record);
      if (printer.Failed()) {
        Err << PROGRAM << "cannot write to standard output\n";
        return false;
      }
    }
    if (log) {
      log->PrintCycle(Record);
      if (log->Failed()) {
        Err << PROGRAM << "cannot write the log file '" << Options.LogFile << "'\n";
        return false;
      }
    }
    return true;
  };
  const auto source = SourceFor(Options, map);
  source->AbortWaitsWhen([&stop] { return stop.Requested(); });
  TPollTraffic traffic(source->FrameHook(), Options.Trace, Options.Stats, Err);
  const int status = RunPollLoop(*source, map, Options, hooks, Err);
  if (!Options.Quiet) printer.Finish();
  traffic.PrintStatistics();
  return stop.Requested() ? POLL_EXIT_INTERRUPTED : status;
}
