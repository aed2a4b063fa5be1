#pragma once
// A meter on the loopback interface for the tests and benchmarks of the
// collection cycles, the window and the poller: the scripted TCP server
// answering "read holding registers" from a 65536-register table, which a test
// can make misbehave per request (exception reply, no reply, closed
// connection, the wrong function code). A new connection replaces the
// previous one, as a meter with a single client slot does.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ScriptedTcpServer.h"

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
  explicit TLoopbackModbusServer(int Family = AF_INET)
      : FServer([this](const TScriptedTcpServer::TFrame& Frame) { return Answer(Frame); },
                {.NewClient = TScriptedTcpServer::TNewClient::Replaces, .Family = Family}) {}

  uint16_t Port() const { return FServer.Port(); }

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
    std::vector<TRequest> requests;
    for (const TScriptedTcpServer::TFrame& frame : FServer.Requests())
      requests.push_back(Parse(frame));
    return requests;
  }
  int Connections() const { return FServer.ConnectionCount(); }
  bool ClientOpen() const { return FServer.ClientOpen(); }
  void DropClient() { FServer.DropClient(); }

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
  static TRequest Parse(const TScriptedTcpServer::TFrame& Frame) {
    const bool full = Frame.size() >= 12;
    return {Frame[7], full ? static_cast<uint16_t>(Frame[8] << 8 | Frame[9]) : uint16_t{0},
            full ? static_cast<uint16_t>(Frame[10] << 8 | Frame[11]) : uint16_t{0}};
  }

  // Runs on the server thread for each request (at least a header, a unit and a function code).
  TScriptedTcpServer::TScript Answer(const TScriptedTcpServer::TFrame& Frame) {
    const TRequest request = Parse(Frame);
    // Header and function code as in the request, then the byte count and the registers.
    TScriptedTcpServer::TFrame answer(Frame.begin(), Frame.begin() + 8);
    TReply reply;
    {
      std::lock_guard lock(FMutex);
      if (FScript) reply = FScript(request, FAnswered);
      ++FAnswered;
      const uint8_t function = request.Function;
      if (reply.Action == TAction::Answer &&
          (function != 3 || request.Count < 1 || request.Count > 125 ||
           request.Address + request.Count > 65536)) {
        reply = {TAction::Exception, static_cast<uint8_t>(function != 3 ? 1 : 2)};
      }
      if (reply.Action == TAction::Answer || reply.Action == TAction::OtherFunction) {
        answer.push_back(static_cast<uint8_t>(2 * request.Count));
        for (uint32_t i = 0; i < request.Count; ++i) {
          answer.push_back(static_cast<uint8_t>(FRegisters[request.Address + i] >> 8));
          answer.push_back(static_cast<uint8_t>(FRegisters[request.Address + i] & 0xFF));
        }
      }
    }
    switch (reply.Action) {
      case TAction::Silent:
        return {};
      case TAction::Close:
        return {TScriptedTcpServer::Close()};
      case TAction::Exception:
        answer[7] = static_cast<uint8_t>(request.Function | 0x80);
        answer.push_back(reply.ExceptionCode);
        break;
      case TAction::OtherFunction:
        answer[7] = 4;
        break;
      case TAction::Answer:
        break;
    }
    const size_t length = answer.size() - 6;
    answer[4] = static_cast<uint8_t>(length >> 8);
    answer[5] = static_cast<uint8_t>(length & 0xFF);
    return {TScriptedTcpServer::Send(std::move(answer))};
  }

  mutable std::mutex FMutex;
  std::vector<uint16_t> FRegisters = std::vector<uint16_t>(65536, 0);
  TScript FScript;
  int FAnswered = 0;
  TScriptedTcpServer FServer;  // last: its thread starts once everything above exists
};
