#pragma once
// Turns SIGINT and SIGTERM into a readable file descriptor, so that a poll()
// loop notices Ctrl-C and can shut down cleanly. One instance per process.

#include <chrono>

class TStopSignal {
 public:
  TStopSignal();
  ~TStopSignal();
  TStopSignal(const TStopSignal&) = delete;
  TStopSignal& operator=(const TStopSignal&) = delete;

  int Fd() const { return FReadFd; }
  bool Requested() const;
  // Waits up to Time; true when a stop was asked for (before or meanwhile).
  bool WaitFor(std::chrono::milliseconds Time) const;

 private:
  int FReadFd = -1;
};
