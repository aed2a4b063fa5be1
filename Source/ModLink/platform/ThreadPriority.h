// Thread priorities of the operating system, for the serial library's worker threads.
#pragma once

#include <cstdint>

// Identifies a running thread to the operating system.
using TNativeThreadId = std::int64_t;

TNativeThreadId CurrentNativeThreadId();
// Priority as the ordinal of the connection's thread priorities, idle (0) to time-critical
// (6), normal being 3. Best effort: raising a priority may need privileges the process does
// not have, and then nothing changes.
void ApplyThreadPriority(TNativeThreadId Thread, int Priority);
