// Driving a connection's worker from a test: the test thread is the main thread, so it
// must keep running the calls the worker hands over while it waits for the line.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "FrameBytes.h"
#include "PtyPair.h"
#include "platform/MainThread.h"

namespace serialtest {

using TSteadyClock = std::chrono::steady_clock;

// Runs the main thread's queue until Done holds or TimeoutMs passes; returns Done().
inline bool PumpUntil(const std::function<bool()>& Done, int TimeoutMs = 5000) {
  return DefaultMainThread().ProcessMessagesUntil(Done, std::chrono::milliseconds(TimeoutMs));
}

// Collects the far side's bytes while serving the main thread, until QuietMs pass after
// the last byte or FirstByteTimeoutMs pass without any.
inline TBytes PumpAndRead(const TPtyPair& Pty, int FirstByteTimeoutMs = 5000, int QuietMs = 100) {
  TBytes Received;
  const auto Start = TSteadyClock::now();
  auto LastByte = Start;
  for (;;) {
    DefaultMainThread().ProcessMessages();
    pollfd Poll{Pty.Master(), POLLIN, 0};
    if (::poll(&Poll, 1, 2) > 0 && (Poll.revents & POLLIN)) {
      std::uint8_t Chunk[512];
      const ssize_t Count = ::read(Pty.Master(), Chunk, sizeof Chunk);
      if (Count > 0) {
        Received.insert(Received.end(), Chunk, Chunk + Count);
        LastByte = TSteadyClock::now();
        continue;
      }
    }
    const auto Now = TSteadyClock::now();
    if (!Received.empty() && Now - LastByte > std::chrono::milliseconds(QuietMs)) return Received;
    if (Received.empty() && Now - Start > std::chrono::milliseconds(FirstByteTimeoutMs))
      return Received;
  }
}

// A loop that has just started throws away whatever is pending on the line, so a test
// must not write its first frame before the loop listens. It probes with a frame too short
// to be valid (":" CR LF, rejected in RTU and ASCII alike) until the loop reports it;
// InvalidFrames counts the connection's OnInvalidFrameDiscard.
inline bool WaitUntilListening(const TPtyPair& Pty, const std::function<int()>& InvalidFrames) {
  for (int Attempt = 0; Attempt < 20; ++Attempt) {
    const int Before = InvalidFrames();
    Pty.Write(std::string(":\r\n"));
    if (PumpUntil([&] { return InvalidFrames() > Before; }, 300)) return true;
  }
  return false;
}

}  // namespace serialtest
