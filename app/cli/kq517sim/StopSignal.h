#pragma once
// Turns SIGINT and SIGTERM into a readable file descriptor, so that a poll()
// loop notices Ctrl-C and can shut down cleanly. One instance per process.

class TStopSignal {
 public:
  TStopSignal();
  ~TStopSignal();
  TStopSignal(const TStopSignal&) = delete;
  TStopSignal& operator=(const TStopSignal&) = delete;

  int Fd() const { return FReadFd; }
  bool Requested() const;

 private:
  int FReadFd = -1;
};
