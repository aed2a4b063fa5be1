#pragma once
// What one meter instance serves, as CSV: one line per map entry with its
// address, type name, OBIS code, the value text the tool shows once it has
// decoded the registers, and the raw register bytes as the tool prints them.

#include <ostream>
#include <vector>

#include "SimulatedMeter.h"

void WriteServedCsv(std::ostream& out, const std::vector<TServedEntry>& entries, bool float32);
