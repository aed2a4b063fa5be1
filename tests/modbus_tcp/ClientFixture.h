#pragma once
// A TIdModBusClient connected to a scripted loopback server.

#include <gtest/gtest.h>

#include <memory>

#include "IdModBusClient.h"
#include "ScriptedTcpServer.h"

// Opens SendCommand to the tests that drive it directly.
class TTestableClient : public TIdModBusClient {
 public:
  using TIdModBusClient::SendCommand;
};

class ClientFixture : public testing::Test {
 protected:
  void Start(TScriptedTcpServer::THandler Handler, bool AutoConnect = false) {
    Server = std::make_unique<TScriptedTcpServer>(std::move(Handler));
    Client.SetHost("127.0.0.1");
    Client.SetPort(Server->Port());
    Client.SetTimeOut(3000);
    Client.SetReadTimeout(50);
    Client.SetAutoConnect(AutoConnect);
    if (!AutoConnect) Client.Connect();
  }

  // The last request the server received, waiting for it if needed.
  TScriptedTcpServer::TFrame LastRequest() {
    EXPECT_TRUE(Server->WaitForRequests(1, std::chrono::seconds(5)));
    const auto requests = Server->Requests();
    return requests.empty() ? TScriptedTcpServer::TFrame{} : requests.back();
  }

  // Declared first so that it is destroyed after the client.
  std::unique_ptr<TScriptedTcpServer> Server;
  TTestableClient Client;
};
