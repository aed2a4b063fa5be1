#pragma once
// Runs the poll that the options describe: finds and loads the map, opens
// the outputs (standard output, the log file, the metrics server), then runs
// the cycles of the chosen transport until they are done or Ctrl-C stops them.

#include <ostream>

#include "PollLoop.h"
#include "PollOptions.h"

// Grid rows go to Out, failures to Err ("kq517poll: ..."). Returns
// POLL_EXIT_OK when every cycle was good, POLL_EXIT_FAILED otherwise.
int RunPoll(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);
