// Two pseudo-terminal pairs joined back to back: what is written to one slave side comes out
// of the other. Both ends then have paths, so the library opens one and an independent peer
// (which insists on opening a device by name) the other.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "PtyPair.h"

namespace serialtest {

class TPtyBridge {
 public:
  TPtyBridge() : FThread([this] { Relay(); }) {}
  ~TPtyBridge() {
    FStop = true;
    FThread.join();
  }
  TPtyBridge(const TPtyBridge&) = delete;
  TPtyBridge& operator=(const TPtyBridge&) = delete;

  const std::string& PathA() const { return FA.Path(); }
  const std::string& PathB() const { return FB.Path(); }

 private:
  static void Copy(int From, int To) {
    unsigned char Buffer[1024];
    const ssize_t N = ::read(From, Buffer, sizeof Buffer);
    for (ssize_t Done = 0; N > 0 && Done < N;) {
      const ssize_t W = ::write(To, Buffer + Done, static_cast<std::size_t>(N - Done));
      if (W > 0)
        Done += W;
      else if (W < 0 && errno != EAGAIN)
        return;
    }
  }
  void Relay() {
    while (!FStop) {
      pollfd P[2] = {{FA.Master(), POLLIN, 0}, {FB.Master(), POLLIN, 0}};
      if (::poll(P, 2, 10) <= 0) continue;
      if (P[0].revents & POLLIN) Copy(FA.Master(), FB.Master());
      if (P[1].revents & POLLIN) Copy(FB.Master(), FA.Master());
    }
  }

  TPtyPair FA, FB;
  std::atomic<bool> FStop{false};
  std::thread FThread;  // last: it starts once the pairs exist
};

}  // namespace serialtest
