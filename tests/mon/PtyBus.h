// An RS-485 bus made of pseudo-terminals: what the master writes reaches the
// slave, what the slave writes reaches the master, and both reach a third
// port where a monitor listens, as a listener clipped onto a real bus hears
// both sides. Each port has a path, so every party opens it by name.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>

#include "PtyPair.h"

class TPtyBus {
 public:
  TPtyBus() : FThread([this] { Relay(); }) {}
  ~TPtyBus() {
    FStop = true;
    FThread.join();
  }
  TPtyBus(const TPtyBus&) = delete;
  TPtyBus& operator=(const TPtyBus&) = delete;

  const std::string& MasterPort() const { return FMaster.Path(); }
  const std::string& SlavePort() const { return FSlave.Path(); }
  const std::string& MonitorPort() const { return FMonitor.Path(); }
  // Bytes that only the monitor hears (line noise near its clip).
  void NoiseToMonitor(const serialtest::TBytes& Bytes) {
    std::lock_guard lock(FWriteLock);
    FMonitor.Write(Bytes);
  }

 private:
  void Carry(const serialtest::TPtyPair& From, const serialtest::TPtyPair& To) {
    std::uint8_t buffer[1024];
    const ssize_t n = ::read(From.Master(), buffer, sizeof buffer);
    if (n <= 0) return;
    std::lock_guard lock(FWriteLock);
    To.Write(buffer, static_cast<std::size_t>(n));
    FMonitor.Write(buffer, static_cast<std::size_t>(n));
  }
  void Relay() {
    while (!FStop) {
      pollfd fds[2] = {{FMaster.Master(), POLLIN, 0}, {FSlave.Master(), POLLIN, 0}};
      if (::poll(fds, 2, 10) <= 0) continue;
      if (fds[0].revents & POLLIN) Carry(FMaster, FSlave);
      if (fds[1].revents & POLLIN) Carry(FSlave, FMaster);
    }
  }

  serialtest::TPtyPair FMaster, FSlave, FMonitor;
  std::mutex FWriteLock;
  std::atomic<bool> FStop{false};
  std::thread FThread;  // last: it starts once the ports exist
};
