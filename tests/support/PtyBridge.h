// Two pseudo-terminal pairs joined back to back: what is written to one slave side comes out
// of the other. Both ends then have paths, so the library opens one and an independent peer
// (which insists on opening a device by name) the other.
//
// With a monitor, a third port hears both directions, as a listener clipped onto an RS-485
// bus hears master and slave: A is then the master's port, B the slave's.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "PtyPair.h"

namespace serialtest {

class TPtyBridge {
 public:
  explicit TPtyBridge(bool WithMonitor = false)
      : FMonitor(WithMonitor ? std::make_unique<TPtyPair>() : nullptr),
        FThread([this] { Relay(); }) {}
  ~TPtyBridge() {
    FStop = true;
    FThread.join();
  }
  TPtyBridge(const TPtyBridge&) = delete;
  TPtyBridge& operator=(const TPtyBridge&) = delete;

  const std::string& PathA() const { return FA.Path(); }
  const std::string& PathB() const { return FB.Path(); }
  // Empty without a monitor.
  const std::string& MonitorPath() const { return FMonitor ? FMonitor->Path() : FNoPath; }
  // Bytes that only the monitor hears (line noise near its clip).
  void NoiseToMonitor(const TBytes& Bytes) {
    std::lock_guard lock(FWriteLock);
    if (FMonitor) FMonitor->Write(Bytes);
  }

 private:
  void Carry(const TPtyPair& From, const TPtyPair& To) {
    std::uint8_t Buffer[1024];
    const ssize_t N = ::read(From.Master(), Buffer, sizeof Buffer);
    if (N <= 0) return;
    std::lock_guard lock(FWriteLock);
    // A side whose far end has gone loses the bytes, as a wire without a listener would.
    try {
      To.Write(Buffer, static_cast<std::size_t>(N));
      if (FMonitor) FMonitor->Write(Buffer, static_cast<std::size_t>(N));
    } catch (const std::system_error&) {
    }
  }
  void Relay() {
    while (!FStop) {
      pollfd P[2] = {{FA.Master(), POLLIN, 0}, {FB.Master(), POLLIN, 0}};
      if (::poll(P, 2, 10) <= 0) continue;
      if (P[0].revents & POLLIN) Carry(FA, FB);
      if (P[1].revents & POLLIN) Carry(FB, FA);
    }
  }

  TPtyPair FA, FB;
  std::unique_ptr<TPtyPair> FMonitor;
  const std::string FNoPath;
  std::mutex FWriteLock;
  std::atomic<bool> FStop{false};
  std::thread FThread;  // last: it starts once the pairs exist
};

}  // namespace serialtest
