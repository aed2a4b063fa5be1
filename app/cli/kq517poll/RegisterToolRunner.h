#pragma once
// Runs the poller's register tools (see RegisterOptions.h): results on Out in
// the chosen --format, failures on Err; each returns the exit status.

#include <ostream>

#include "PollOptions.h"

int RunRegisterTool(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);

int RunReadTool(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);
int RunWriteTool(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);
int RunClockTool(const TPollOptions& Options, std::ostream& Out, std::ostream& Err);
