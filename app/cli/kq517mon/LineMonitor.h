#pragma once
// The line monitor: opens a serial port in the serial library's monitor mode
// (it never transmits, and leaves RTS low so that an RS-485 adapter that
// switches its driver with RTS stays a listener), prints every frame the
// worker reports through the frame hook and, once stopped, the statistics.

#include <ostream>

#include "MonitorOptions.h"
#include "StopSignal.h"

// Frames go to Out, the banner, failures and the statistics to Err. Returns
// 0 when Stop ended it, 1 when the port could not be opened or failed.
int RunLineMonitor(const TMonitorOptions& Options, std::ostream& Out, std::ostream& Err,
                   const TStopSignal& Stop);
