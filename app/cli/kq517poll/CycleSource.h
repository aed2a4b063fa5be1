#pragma once
// One transport's collection cycle as the poll loop drives it: run a cycle
// (the map's grid then shows its result) and say how it ended.

#include <string>

#include "FrameHook.h"

struct TCycleOutcome {
  bool Ok = false;            // the whole map read and decoded, the meter instance present
  bool EndsPoll = false;      // the window would stop its poll here
  bool ValuesAbsent = false;  // the grid's values must not be shown (switched-off instance)
  std::string Error;          // why not Ok
};

class TCycleSource {
 public:
  virtual ~TCycleSource() = default;
  virtual TCycleOutcome RunCycle() = 0;
  // After a failed cycle that did not end the poll (--keep-going): the next
  // cycle starts as a new poll would, connecting afresh.
  virtual void Restart() = 0;
  // Every frame the transport sends and receives (--trace, --stats).
  virtual TFrameHook& FrameHook() = 0;
};

// "meter instance N not present": the firmware word reads 0xFFFF.
std::string MeterNotPresentText(int MeterInstanceIndex);
