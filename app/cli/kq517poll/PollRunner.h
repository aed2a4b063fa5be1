#pragma once
// Runs the poll that the options describe: loads the map, then runs the
// cycles of the chosen transport and prints the grid after each one.

#include "PollOptions.h"

#include <ostream>

// Exit statuses of kq517poll.
inline constexpr int POLL_EXIT_OK = 0;
inline constexpr int POLL_EXIT_FAILED = 1;
inline constexpr int POLL_EXIT_USAGE = 2;

// Grid rows go to Out, failures to Err ("kq517poll: ..."). Returns
// POLL_EXIT_OK when every cycle decoded the whole map, POLL_EXIT_FAILED
// otherwise.
int RunPoll(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);
