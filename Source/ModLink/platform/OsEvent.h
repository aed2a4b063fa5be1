// An event on eventfd, so it can be waited for together with the serial port
// through poll(). Auto-reset events are consumed by the wait that sees them.
#pragma once

#include <cstdint>

class TOsEvent {
public:
  // Raises std::system_error with errno when the kernel refuses the descriptor.
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
  // For a wait that poll()ed Handle() and found it readable: consumes it if auto-reset.
  void Acknowledge();

  int Handle() const { return FHandle; }
  bool ManualReset() const { return FManualReset; }

  static constexpr std::uint32_t InfiniteTimeout = 0xFFFFFFFF;

private:
  int FHandle;
  bool FManualReset;
};

// poll() time-out argument for a millisecond time-out where InfiniteTimeout means no limit.
int PollTimeout(std::uint32_t Timeout);
