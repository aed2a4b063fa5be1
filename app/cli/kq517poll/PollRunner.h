#pragma once
// Runs the poll that the options describe: finds and loads the map, opens
// the outputs (standard output, the log file, the metrics server), then runs
// the cycles of the chosen transport until they are done or Ctrl-C stops them.

#include <ostream>

#include "PollLoop.h"
#include "PollOptions.h"
#include "RegisterMap.h"

// Grid rows go to Out, failures to Err ("kq517poll: ..."). Returns
// POLL_EXIT_OK when every cycle was good, POLL_EXIT_FAILED otherwise.
int RunPoll(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);

// Loads the map the options name and shapes its grid; false (with the reason
// on Err) when the file cannot be found or read or is not a valid map.
bool LoadPollMap(const TPollOptions& Options, TRegisterMap& Map, std::ostream& Err);
