#pragma once
// Turns Ctrl-C (SIGINT and SIGTERM on POSIX, the console's control events on Windows)
// into a handle that a wait loop waits on beside its sockets, so that the loop notices
// the request at once and can shut down cleanly. One instance per process.

#include <chrono>

#include "platform/WakeChannel.h"

class TStopSignal {
 public:
  TStopSignal();
  ~TStopSignal();
  TStopSignal(const TStopSignal&) = delete;
  TStopSignal& operator=(const TStopSignal&) = delete;

  // Readable once a stop was asked for, and from then on.
  TPollHandle Fd() const { return FChannel.Handle(); }
  bool Requested() const;
  // Waits up to Time; true when a stop was asked for (before or meanwhile).
  bool WaitFor(std::chrono::milliseconds Time) const;

 private:
  TWakeChannel FChannel;
};
