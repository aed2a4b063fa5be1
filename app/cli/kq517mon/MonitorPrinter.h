#pragma once
// Writes what the line monitor saw, one line per frame, as text for a person
// or as JSON Lines for a program.

#include <ostream>

#include "MonitorOptions.h"
#include "TrafficEntry.h"

// "10:20:30.123 01 03 00 00 00 0A C5 CD  slave 1 read holding registers 0+10",
// with "  1.1 ms" after a timed reply; a frame that is not sound reads
// "... invalid frame: CRC error".
std::string MonitorTextLine(const TTrafficEntry& Entry);

// {"time":"...","bytes":"01 03 ...","summary":"...","valid":true,"role":"request",
//  "outcome":"ok","response_ms":1.1}
std::string MonitorJsonLine(const TTrafficEntry& Entry);

// Writes the entry's line in Format and flushes it, so that a reader at the
// other end of a pipe sees each frame as it comes.
void PrintMonitorEntry(std::ostream& Out, EMonitorFormat Format, const TTrafficEntry& Entry);
