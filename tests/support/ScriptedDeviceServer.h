// A serial device server on loopback, scripted by the test: the scripted TCP server taking
// as one query everything that comes before 5 ms of quiet, and answering it with the raw
// chunks a script chooses, each after its pause, as TScriptedSlave does on a
// pseudo-terminal. An answer may also close the connection, in an orderly way or with a
// reset. One connection at a time; connections are counted.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ScriptedSlave.h"
#include "ScriptedTcpServer.h"

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
      : FScript(std::move(Script)),
        FServer([this](const TBytes& Query) { return Answer(Query); },
                {.Framing = TScriptedTcpServer::TFraming::QuietGap, .Port = Port}) {}

  std::uint16_t Port() const { return FServer.Port(); }
  std::string PortName() const { return "tcp://127.0.0.1:" + std::to_string(Port()); }
  int Connections() const { return FServer.ConnectionCount(); }

 private:
  TScriptedTcpServer::TScript Answer(const TBytes& Query) {
    const TTcpAnswer answer = FScript(Query);
    TScriptedTcpServer::TScript steps;
    for (const TChunk& piece : answer.Chunks) {
      if (piece.DelayMs > 0)
        steps.push_back(TScriptedTcpServer::Pause(std::chrono::milliseconds(piece.DelayMs)));
      steps.push_back(TScriptedTcpServer::Send(piece.Bytes));
    }
    if (answer.After == TAfterAnswer::Close) steps.push_back(TScriptedTcpServer::Close());
    if (answer.After == TAfterAnswer::Reset) steps.push_back(TScriptedTcpServer::Reset());
    return steps;
  }

  TTcpScript FScript;
  TScriptedTcpServer FServer;  // last: its thread starts once everything above exists
};

}  // namespace serialtest
