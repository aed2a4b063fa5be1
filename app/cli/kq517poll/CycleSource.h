#pragma once
// One transport's collection cycle as the poll loop drives it: run a cycle
// and hand back its outcome.

#include <functional>

#include "CycleOutcome.h"
#include "FrameHook.h"

class TCycleSource {
 public:
  virtual ~TCycleSource() = default;
  virtual TCycleOutcome RunCycle() = 0;
  // After a failed cycle of a poll that goes on (--keep-going): the next
  // cycle starts as a new poll would, connecting afresh.
  virtual void Restart() = 0;
  // Every frame the transport sends and receives (--trace, --stats).
  virtual TFrameHook& FrameHook() = 0;
  // Asked while a cycle waits for the device: true ends the wait at once
  // (a stop signal), and the cycle with it.
  virtual void AbortWaitsWhen(std::function<bool()> Aborted) = 0;
};
