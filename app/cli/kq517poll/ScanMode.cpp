// kq517poll --scan-serial: finds meters on a serial port.
#include <unistd.h>

#include <iostream>
#include <string>

#include "CommissionRunner.h"
#include "PollLoop.h"
#include "SerialRegisterSource.h"
#include "SerialScan.h"
#include "StopSignal.h"

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

std::string ProgressText(const TScanProgress& Progress, bool OverTcp) {
  const std::string line = OverTcp ? ""
                                   : std::to_string(BitsPerSecond(Progress.BaudRate)) +
                                         " baud, parity " + ParityWord(Progress.Parity) + ", ";
  return "scanning " + line + "slave " + std::to_string(Progress.Slave) + " (try " +
         std::to_string(Progress.Done + 1) + " of " + std::to_string(Progress.Total) + ")";
}

}  // namespace

int RunScanMode(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  const TCommissionOptions& c = Options.Commission;
  TSerialScanSettings settings;
  settings.Port = c.ScanPort;
  settings.BaudRates = c.ScanBaudRates;
  settings.Parities = c.ScanParities;
  settings.FirstSlave = c.FirstSlave;
  settings.LastSlave = c.LastSlave;
  settings.Mode = Options.Serial.Mode;
  settings.DataBits = Options.Serial.DataBits;
  settings.StopBits = Options.Serial.StopBits;
  TSerialScan scan(settings);

  // On a terminal the progress line is redrawn in place; otherwise (a log)
  // one line per baud rate and parity says where the scan is.
  const bool terminal = ::isatty(STDERR_FILENO) == 1 && &Err == &std::cerr;
  const TStopSignal stop;
  bool lineOpen = false;
  TBaudRate lastRate = brCustom;
  TParityScheme lastParity = psNone;
  scan.OnProgress = [&](const TScanProgress& Progress) {
    if (stop.Requested()) scan.RequestStop();
    if (terminal) {
      Err << '\r' << ProgressText(Progress, scan.OverTcp()) << "\x1b[K" << std::flush;
      lineOpen = true;
    } else if (Progress.Done == 0 || Progress.BaudRate != lastRate ||
               Progress.Parity != lastParity) {
      Err << PROGRAM << ProgressText(Progress, scan.OverTcp()) << std::endl;
    }
    lastRate = Progress.BaudRate;
    lastParity = Progress.Parity;
  };
  scan.OnFound = [&](const TScanFound& Found) {
    if (lineOpen) Err << "\r\x1b[K" << std::flush;
    lineOpen = false;
    Out << FoundText(Found) << std::endl;
  };
  const TScanResult result = scan.Run();
  if (lineOpen) Err << "\r\x1b[K";
  if (!result.Error.empty()) {
    Err << PROGRAM << result.Error << '\n';
    return POLL_EXIT_FAILED;
  }
  const std::string found = std::to_string(result.Found.size()) + " found";
  if (result.Stopped)
    Err << PROGRAM << "scan stopped; " << found << '\n';
  else
    Err << PROGRAM << "scan done, " << scan.TotalTries() << " tries; " << found << '\n';
  return result.Found.empty() ? POLL_EXIT_FAILED : POLL_EXIT_OK;
}
