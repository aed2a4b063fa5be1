// An event that can be waited for together with the serial port: an eventfd on POSIX.
// Auto-reset events are consumed by the wait that sees them.
#pragma once

#include <cstdint>

#include "NativeHandle.h"

class TOsEvent {
 public:
  // Raises std::system_error when the system refuses the event.
  explicit TOsEvent(bool ManualReset = false);
  ~TOsEvent();
  TOsEvent(const TOsEvent&) = delete;
  TOsEvent& operator=(const TOsEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits up to Timeout ms (InfiniteTimeout: no limit); true when the event was set.
  // An auto-reset event is reset by a successful wait.
  bool WaitFor(std::uint32_t Timeout);
  // For a wait that found Handle() signalled among other handles: consumes it if auto-reset.
  void Acknowledge();

  TNativeHandle Handle() const { return FHandle; }
  bool ManualReset() const { return FManualReset; }

  static constexpr std::uint32_t InfiniteTimeout = 0xFFFFFFFF;

 private:
  TNativeHandle FHandle;
  bool FManualReset;
};
