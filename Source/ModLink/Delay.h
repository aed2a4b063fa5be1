#pragma once

#include <cstdint>

// Sleeps Duration milliseconds; 0 returns at once without yielding the thread.
void Delay(std::uint32_t Duration);
