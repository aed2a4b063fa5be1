// A scripted slave on the master side of a pseudo-terminal: it reads one query at a time
// (RTU: up to a short silence; ASCII: up to LF) and answers it with the raw bytes a script
// chooses, chunk by chunk after chosen pauses, so a test can inject any fault. Every query
// is recorded. Every loop ends when the slave is destroyed.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "PtyPair.h"

namespace serialtest {

// What the slave sends after a query: each chunk after its delay.
struct TChunk {
  int DelayMs = 0;
  TBytes Bytes;
};
using TScript = std::function<std::vector<TChunk>(const TBytes& Query)>;

class TScriptedSlave {
 public:
  TScriptedSlave(int Fd, bool AsciiMode, TScript Script)
      : FFd(Fd), FAscii(AsciiMode), FScript(std::move(Script)), FThread([this] { Run(); }) {}
  ~TScriptedSlave() {
    FStop = true;
    FThread.join();
  }
  TScriptedSlave(const TScriptedSlave&) = delete;
  TScriptedSlave& operator=(const TScriptedSlave&) = delete;

  std::vector<TBytes> Queries() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FQueries;
  }
  std::size_t QueryCount() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FQueries.size();
  }

 private:
  bool WaitReadable(int TimeoutMs) {
    pollfd P{FFd, POLLIN, 0};
    return ::poll(&P, 1, TimeoutMs) > 0 && (P.revents & POLLIN);
  }
  void ReadSome(TBytes& Into) {
    std::uint8_t Chunk[512];
    const ssize_t N = ::read(FFd, Chunk, sizeof Chunk);
    if (N > 0) Into.insert(Into.end(), Chunk, Chunk + N);
  }
  // The next whole query from what has been read: ASCII up to its LF, RTU everything that
  // came before the line fell quiet for 5 ms.
  bool NextQuery(TBytes& Query) {
    if (!FAscii) {
      while (!FStop && WaitReadable(5)) ReadSome(FPending);
      Query.swap(FPending);
      FPending.clear();
      return !Query.empty();
    }
    for (;;) {
      const auto Lf = std::find(FPending.begin(), FPending.end(), '\n');
      if (Lf != FPending.end()) {
        Query.assign(FPending.begin(), Lf + 1);
        FPending.erase(FPending.begin(), Lf + 1);
        return true;
      }
      if (FStop || !WaitReadable(200)) return false;
      ReadSome(FPending);
    }
  }
  void Run() {
    while (!FStop) {
      if (FPending.empty() && !WaitReadable(10)) continue;
      TBytes Query;
      if (!NextQuery(Query)) continue;
      {
        std::lock_guard<std::mutex> Lock(FLock);
        FQueries.push_back(Query);
      }
      for (const TChunk& Chunk : FScript(Query)) {
        if (FStop) break;
        if (Chunk.DelayMs > 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(Chunk.DelayMs));
        std::size_t Done = 0;
        while (Done < Chunk.Bytes.size() && !FStop) {
          const ssize_t N = ::write(FFd, Chunk.Bytes.data() + Done, Chunk.Bytes.size() - Done);
          if (N > 0)
            Done += static_cast<std::size_t>(N);
          else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
    }
  }

  int FFd;
  bool FAscii;
  TScript FScript;
  TBytes FPending;  // read but not yet taken as a query
  mutable std::mutex FLock;
  std::vector<TBytes> FQueries;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace serialtest
