// The system timer's resolution, which the millisecond waits of the serial exchange
// (silent interval, hold and turnaround delays) rely on.
#pragma once

#include <cstdint>

// Holds a timer period of PeriodMs for the caller; false when the system cannot give it.
bool RequestTimerPeriod(std::uint32_t PeriodMs);
// Gives back a period that RequestTimerPeriod granted.
void ReleaseTimerPeriod(std::uint32_t PeriodMs);
