#pragma once
// A scripted Modbus TCP server on the loopback interface for tests and
// benchmarks: serves "read holding registers" from a 65536-register table and
// lets a test make it misbehave per request (exception reply, no reply, closed connection).
// One client at a time; a new connection replaces the previous one. Every
// wait is bounded, and the destructor stops the thread.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

class TLoopbackModbusServer {
 public:
  struct TRequest {
    uint8_t Function;
    uint16_t Address;
    uint16_t Count;
  };
  // OtherFunction answers the registers under function code 4 instead of 3.
  enum class TAction { Answer, Exception, Silent, Close, OtherFunction };
  struct TReply {
    TAction Action = TAction::Answer;
    uint8_t ExceptionCode = 0;
  };
  // Decides how to answer request number Index (from 0, over all connections).
  using TScript = std::function<TReply(const TRequest& Request, int Index)>;

  // Listens on 127.0.0.1, or on ::1 with Family AF_INET6 (throws when the
  // machine has no IPv6 loopback).
  explicit TLoopbackModbusServer(int Family = AF_INET) : FRegisters(65536, 0) {
    FListen = socket(Family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListen < 0) throw std::runtime_error("socket failed");
    const int yes = 1;
    setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (Family == AF_INET6) {
      auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
      v6.sin6_family = AF_INET6;
      v6.sin6_addr = in6addr_loopback;
      length = sizeof v6;
    } else {
      auto& v4 = reinterpret_cast<sockaddr_in&>(address);
      v4.sin_family = AF_INET;
      v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof v4;
    }
    if (bind(FListen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(FListen, 8) != 0) {
      close(FListen);
      throw std::runtime_error("bind/listen failed");
    }
    getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(Family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                     : reinterpret_cast<sockaddr_in&>(address).sin_port);
    FThread = std::thread([this] { Run(); });
  }

  ~TLoopbackModbusServer() {
    FStop = true;
    FThread.join();
    if (FClient >= 0) close(FClient);
    close(FListen);
  }

  uint16_t Port() const { return FPort; }

  // Register table; set values before the client asks for them.
  void SetRegister(uint16_t Address, uint16_t Value) {
    std::lock_guard lock(FMutex);
    FRegisters[Address] = Value;
  }
  void SetScript(TScript Script) {
    std::lock_guard lock(FMutex);
    FScript = std::move(Script);
  }

  std::vector<TRequest> Requests() const {
    std::lock_guard lock(FMutex);
    return FRequests;
  }
  int Connections() const { return FConnections; }
  // True while a client connection is open on the server side.
  bool ClientOpen() const { return FClientOpen; }

  // Closes the current client connection and waits until it is closed.
  void DropClient() {
    FDropRequested = true;
    WaitFor([this] { return !FDropRequested; });
  }

  // Waits up to five seconds for Condition; true when it became true.
  static bool WaitFor(const std::function<bool()>& Condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

 private:
  void CloseClient() {
    if (FClient >= 0) close(FClient);
    FClient = -1;
    FInput.clear();
    FClientOpen = false;
  }

  void Run() {
    while (!FStop) {
      if (FDropRequested) {
        CloseClient();
        FDropRequested = false;
      }
      pollfd fds[2] = {{FListen, POLLIN, 0}, {FClient, POLLIN, 0}};
      if (poll(fds, FClient >= 0 ? 2 : 1, 10) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const int client = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
          CloseClient();
          const int yes = 1;
          setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
          FClient = client;
          FClientOpen = true;
          ++FConnections;
        }
        continue;
      }
      if (FClient >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        uint8_t chunk[512];
        const ssize_t received = recv(FClient, chunk, sizeof chunk, 0);
        if (received <= 0) {
          CloseClient();
          continue;
        }
        FInput.insert(FInput.end(), chunk, chunk + received);
        ServeFrames();
      }
    }
  }

  void ServeFrames() {
    while (FInput.size() >= 8) {
      const size_t frameLength = 6u + (static_cast<size_t>(FInput[4]) << 8 | FInput[5]);
      if (frameLength < 8) {  // no room for unit and function code: not Modbus
        CloseClient();
        return;
      }
      if (FInput.size() < frameLength) return;
      std::vector<uint8_t> frame(FInput.begin(), FInput.begin() + static_cast<long>(frameLength));
      FInput.erase(FInput.begin(), FInput.begin() + static_cast<long>(frameLength));
      if (!Serve(frame)) return;
    }
  }

  // Answers one request frame; false when the connection was closed.
  bool Serve(const std::vector<uint8_t>& Frame) {
    const uint8_t function = Frame[7];
    const uint16_t address =
        Frame.size() >= 12 ? static_cast<uint16_t>(Frame[8] << 8 | Frame[9]) : 0;
    const uint16_t count =
        Frame.size() >= 12 ? static_cast<uint16_t>(Frame[10] << 8 | Frame[11]) : 0;
    TReply reply;
    // Header and function code as in the request, then at most 1 + 250 data bytes.
    std::array<uint8_t, 8 + 1 + 250> answer{};
    std::copy_n(Frame.data(), 8, answer.data());
    size_t size = 8;
    {
      std::lock_guard lock(FMutex);
      const TRequest request{function, address, count};
      FRequests.push_back(request);
      if (FScript) reply = FScript(request, static_cast<int>(FRequests.size()) - 1);
      if (reply.Action == TAction::Answer &&
          (function != 3 || count < 1 || count > 125 || address + count > 65536)) {
        reply = {TAction::Exception, static_cast<uint8_t>(function != 3 ? 1 : 2)};
      }
      if (reply.Action == TAction::Answer || reply.Action == TAction::OtherFunction) {
        answer[size++] = static_cast<uint8_t>(2 * count);
        for (uint32_t i = 0; i < count; ++i) {
          answer[size++] = static_cast<uint8_t>(FRegisters[address + i] >> 8);
          answer[size++] = static_cast<uint8_t>(FRegisters[address + i] & 0xFF);
        }
      }
    }
    switch (reply.Action) {
      case TAction::Silent:
        return true;
      case TAction::Close:
        CloseClient();
        return false;
      case TAction::Exception:
        answer[7] = static_cast<uint8_t>(function | 0x80);
        answer[size++] = reply.ExceptionCode;
        break;
      case TAction::OtherFunction:
        answer[7] = 4;
        break;
      case TAction::Answer:
        break;
    }
    const size_t length = size - 6;
    answer[4] = static_cast<uint8_t>(length >> 8);
    answer[5] = static_cast<uint8_t>(length & 0xFF);
    if (send(FClient, answer.data(), size, MSG_NOSIGNAL) != static_cast<ssize_t>(size))
      CloseClient();
    return FClient >= 0;
  }

  int FListen = -1;
  int FClient = -1;  // touched by the server thread only
  uint16_t FPort = 0;
  std::vector<uint8_t> FInput;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FDropRequested{false};
  std::atomic<bool> FClientOpen{false};
  std::atomic<int> FConnections{0};

  mutable std::mutex FMutex;
  std::vector<uint16_t> FRegisters;
  std::vector<TRequest> FRequests;
  TScript FScript;
};
