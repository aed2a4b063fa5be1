// Two pseudo-terminal pairs joined back to back: what is written to one slave side comes out
// of the other. Both ends then have paths, so the library opens one and an independent peer
// (which insists on opening a device by name) the other.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <system_error>
#include <thread>

namespace interop {

class TPtyBridge {
 public:
  TPtyBridge() {
    OpenPair(FMasterA, FSlaveA, FPathA);
    OpenPair(FMasterB, FSlaveB, FPathB);
    FThread = std::thread([this] { Relay(); });
  }
  ~TPtyBridge() {
    FStop = true;
    FThread.join();
    for (int Fd : {FMasterA, FSlaveA, FMasterB, FSlaveB}) ::close(Fd);
  }
  TPtyBridge(const TPtyBridge&) = delete;
  TPtyBridge& operator=(const TPtyBridge&) = delete;

  const std::string& PathA() const { return FPathA; }
  const std::string& PathB() const { return FPathB; }

 private:
  static void OpenPair(int& Master, int& Slave, std::string& Path) {
    termios Settings{};
    cfmakeraw(&Settings);
    char Name[256] = {};
    if (openpty(&Master, &Slave, Name, &Settings, nullptr) != 0)
      throw std::system_error(errno, std::generic_category(), "openpty");
    Path = Name;
    ::fcntl(Master, F_SETFL, ::fcntl(Master, F_GETFL) | O_NONBLOCK);
  }
  static void Copy(int From, int To) {
    unsigned char Buffer[1024];
    const ssize_t N = ::read(From, Buffer, sizeof Buffer);
    for (ssize_t Done = 0; N > 0 && Done < N;) {
      const ssize_t W = ::write(To, Buffer + Done, static_cast<std::size_t>(N - Done));
      if (W > 0) Done += W;
      else if (W < 0 && errno != EAGAIN) return;
    }
  }
  void Relay() {
    while (!FStop) {
      pollfd P[2] = {{FMasterA, POLLIN, 0}, {FMasterB, POLLIN, 0}};
      if (::poll(P, 2, 10) <= 0) continue;
      if (P[0].revents & POLLIN) Copy(FMasterA, FMasterB);
      if (P[1].revents & POLLIN) Copy(FMasterB, FMasterA);
    }
  }

  int FMasterA = -1, FSlaveA = -1, FMasterB = -1, FSlaveB = -1;
  std::string FPathA, FPathB;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace interop
