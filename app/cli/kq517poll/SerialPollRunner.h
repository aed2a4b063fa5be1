#pragma once
// The poll over a Modbus RTU serial line: the window's serial cycle, with the
// serial library's results taken from its default main-thread queue, which
// this loop drains until each reply has been handled.

#include "PollOptions.h"
#include "RegisterMap.h"

#include <ostream>

// Runs Options.Count cycles against the device Target names and prints the
// grid after each. A port that cannot be opened or a refused request ends the
// poll, as it stops the window's; a reply that is not a normal one is
// reported and the poll goes on. Returns POLL_EXIT_OK when every reply was
// normal and its values available, POLL_EXIT_FAILED otherwise.
int RunSerialPoll(const TSerialTarget& Target, const TPollOptions& Options, TRegisterMap& Map,
                  std::ostream& Out, std::ostream& Err);
