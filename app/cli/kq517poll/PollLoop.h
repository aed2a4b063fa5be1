#pragma once
// The poll loop shared by both transports: runs the cycles the options ask
// for, hands each one to the outputs, reports failures on the error stream and
// decides when the poll ends.

#include <chrono>
#include <functional>
#include <ostream>
#include <vector>

#include "CycleRecord.h"
#include "CycleSource.h"
#include "PollOptions.h"
#include "RegisterMap.h"

// Exit statuses of kq517poll.
inline constexpr int POLL_EXIT_OK = 0;
inline constexpr int POLL_EXIT_FAILED = 1;
inline constexpr int POLL_EXIT_USAGE = 2;
// A stop signal ended the poll (the shell's status for SIGINT), so that a
// script can tell an interrupted run from a complete one.
inline constexpr int POLL_EXIT_INTERRUPTED = 130;

struct TPollLoopHooks {
  // Every cycle, as soon as it ended; false when the output failed, which
  // ends the poll (the reason already on the error stream).
  std::function<bool(const TCycleRecord&)> OnCycle;
  // Waits the pause between cycles; true when the poll is to stop instead.
  std::function<bool(std::chrono::milliseconds)> WaitOrStop;
  // True once the poll is to stop: a cycle cut short by it is not reported.
  std::function<bool()> Stopped;
};

// Cycle number Cycle's outcome as the outputs take it: the grid's rows of
// Map's entries with the readings' texts and numbers. A switched-off meter
// instance ("meter instance N not present") shows no values, only the
// register bytes it answered.
TCycleRecord RecordOf(const TRegisterMap& Map, const TPollOptions& Options, int Cycle,
                      const TCycleOutcome& Outcome);

// Returns POLL_EXIT_OK when every cycle was good, POLL_EXIT_FAILED otherwise.
int RunPollLoop(TCycleSource& Source, const TRegisterMap& Map, const TPollOptions& Options,
                const TPollLoopHooks& Hooks, std::ostream& Err);
