#pragma once
// A handle that a wait loop waits on beside its sockets, made readable from any
// thread (or a signal handler) to wake the loop: an eventfd on Linux, a loopback
// socket pair on Windows.

#include "PollHandle.h"

class TWakeChannel {
 public:
  // Throws std::system_error when the system refuses.
  TWakeChannel();
  ~TWakeChannel();
  TWakeChannel(const TWakeChannel&) = delete;
  TWakeChannel& operator=(const TWakeChannel&) = delete;

  // Any thread; async-signal-safe on POSIX. Stays readable until drained.
  void Signal() noexcept;
  // Makes the handle quiet again.
  void Drain() noexcept;
  TPollHandle Handle() const { return FRead; }

 private:
  TPollHandle FRead = NoPollHandle;
  TPollHandle FWrite = NoPollHandle;  // the same as FRead where one handle does both
};
