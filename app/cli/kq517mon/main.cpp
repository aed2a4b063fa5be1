// kq517mon: a passive Modbus line monitor. See ParseMonitorOptions for the options.
#include <clocale>
#include <csignal>
#include <exception>
#include <iostream>

#include "LineMonitor.h"
#include "MonitorOptions.h"

int main(int argc, char** argv) {
  // Numbers are written with '.', whatever the user's locale says.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  TMonitorOptions options;
  const TCommandLine parsed = ParseMonitorOptions({argv + 1, argv + argc}, options);
  if (const auto status =
          FinishCommandLine(parsed, "kq517mon", MonitorSynopsis(), std::cout, std::cerr))
    return *status;
  try {
    const TStopSignal stop;  // Ctrl-C and SIGTERM end the loop; the statistics follow
    return RunLineMonitor(options, std::cout, std::cerr, stop);
  } catch (const std::exception& error) {
    std::cerr << "kq517mon: " << error.what() << '\n';
    return 1;
  }
}
