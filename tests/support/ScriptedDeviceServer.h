// A serial device server on loopback, scripted by the test: it accepts one connection at a
// time, reads a query (everything that comes before 5 ms of quiet) and answers it with the
// raw chunks a script chooses, each after its pause, as TScriptedSlave does on a
// pseudo-terminal. An answer may also close the connection, in an orderly way or with a
// reset. Connections are counted. Every loop ends when the server is destroyed.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "LoopbackPorts.h"
#include "ScriptedSlave.h"

namespace serialtest {

// What the server does after the chunks of one answer.
enum class TAfterAnswer { StayConnected, Close, Reset };
struct TTcpAnswer {
  std::vector<TChunk> Chunks;
  TAfterAnswer After = TAfterAnswer::StayConnected;
};
using TTcpScript = std::function<TTcpAnswer(const TBytes& Query)>;

class TScriptedDeviceServer {
 public:
  // Port 0 picks a free one.
  explicit TScriptedDeviceServer(TTcpScript Script, std::uint16_t Port = 0)
      : FScript(std::move(Script)) {
    FPort = Port;
    FListener = ListenLoopback(FPort);
    if (FListener < 0) throw std::runtime_error("the scripted device server cannot listen");
    FThread = std::thread([this] { Run(); });
  }
  ~TScriptedDeviceServer() {
    FStop = true;
    FThread.join();
    ::close(FListener);
  }
  TScriptedDeviceServer(const TScriptedDeviceServer&) = delete;
  TScriptedDeviceServer& operator=(const TScriptedDeviceServer&) = delete;

  std::uint16_t Port() const { return FPort; }
  std::string PortName() const { return "tcp://127.0.0.1:" + std::to_string(FPort); }
  int Connections() const { return FConnections.load(); }

 private:
  static bool Readable(int Fd, int TimeoutMs) {
    pollfd P{Fd, POLLIN, 0};
    return ::poll(&P, 1, TimeoutMs) > 0;
  }
  void Run() {
    while (!FStop) {
      if (!Readable(FListener, 10)) continue;
      const int Client = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
      if (Client < 0) continue;
      // Each chunk leaves as it is sent, so a reply can arrive in pieces.
      const int One = 1;
      ::setsockopt(Client, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
      ++FConnections;
      Serve(Client);
    }
  }
  // Answers queries on one connection until the client or the script ends it.
  void Serve(int Client) {
    while (!FStop) {
      if (!Readable(Client, 10)) continue;
      TBytes Query;
      std::uint8_t Chunk[512];
      do {
        const ssize_t N = ::recv(Client, Chunk, sizeof Chunk, 0);
        if (N <= 0) {
          ::close(Client);  // the client left
          return;
        }
        Query.insert(Query.end(), Chunk, Chunk + N);
      } while (Readable(Client, 5));
      const TTcpAnswer Answer = FScript(Query);
      for (const TChunk& Piece : Answer.Chunks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(Piece.DelayMs));
        ::send(Client, Piece.Bytes.data(), Piece.Bytes.size(), MSG_NOSIGNAL);
      }
      if (Answer.After == TAfterAnswer::StayConnected) continue;
      if (Answer.After == TAfterAnswer::Reset) {
        const linger Hard{1, 0};
        ::setsockopt(Client, SOL_SOCKET, SO_LINGER, &Hard, sizeof Hard);
      }
      ::close(Client);
      return;
    }
    ::close(Client);
  }

  TTcpScript FScript;
  int FListener = -1;
  std::uint16_t FPort = 0;
  std::atomic<int> FConnections{0};
  std::atomic<bool> FStop{false};
  std::thread FThread;  // last: it starts once everything above exists
};

}  // namespace serialtest
