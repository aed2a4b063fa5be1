// The TCP connection layer: connect failures and their messages, host names,
// the input buffer, a peer that goes away, and SIGPIPE.

#include "TcpClient.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPorts.h"
#include "ScriptedTcpServer.h"

using namespace std::chrono_literals;
using TFrame = TScriptedTcpServer::TFrame;

namespace {

// A loopback port with nothing listening: bound, then released.
uint16_t UnusedPort() {
  return FreePort();
}

// Writes a request frame of Length bytes in total.
TFrame Request(uint8_t Id, std::size_t Length = 12) {
  TFrame frame(Length, 0);
  frame[0] = Id;
  frame[5] = static_cast<uint8_t>(Length - 6);
  frame[7] = 3;
  return frame;
}

}  // namespace

TEST(TcpClient, RefusedConnectionNamesHostPortAndReason) {
  const uint16_t port = UnusedPort();
  for (const int timeout : {0, 2000}) {
    TTcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    client.SetConnectTimeout(timeout);
    try {
      client.Connect();
      ADD_FAILURE() << "connect to a closed port succeeded";
    } catch (const ETcpConnectionError& Error) {
      const std::string text = Error.what();
      EXPECT_NE(text.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << text;
      EXPECT_NE(text.find("refused"), std::string::npos) << text;
      EXPECT_EQ(Error.OSError(), ECONNREFUSED);
    }
    EXPECT_FALSE(client.Connected());
  }
}

TEST(TcpClient, ConnectGivesUpAfterConnectTimeout) {
  // A listener that never accepts: once its queue is full, the system drops
  // further connection requests, and a connect can only time out.
  uint16_t port = 0;
  const int listener = ListenLoopback(port, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
  }
  std::this_thread::sleep_for(50ms);

  TTcpClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(ntohs(address.sin_port));
  client.SetConnectTimeout(300);
  const auto started = std::chrono::steady_clock::now();
  try {
    client.Connect();
    ADD_FAILURE() << "connect to a full queue succeeded";
  } catch (const ETcpConnectionError& Error) {
    EXPECT_EQ(Error.OSError(), ETIMEDOUT) << Error.what();
  }
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 10s);
  for (const int f : fillers) ::close(f);
  ::close(listener);
}

TEST(TcpClient, NoHostOrNoConnectionIsAClearError) {
  TTcpClient client;
  EXPECT_THROW(client.Connect(), ETcpConnectionError);
  client.SetHost("127.0.0.1");
  client.SetPort(1502);
  EXPECT_THROW(client.CheckForGracefulDisconnect(), ETcpConnectionError);
  EXPECT_THROW(client.WriteDirect(TFrame{1, 2}), ETcpConnectionError);
  EXPECT_THROW(client.CheckForDataOnSource(0), ETcpConnectionError);
}

TEST(TcpClient, HostNamesResolveAndTheInputBufferHandsOutBytesInOrder) {
  TScriptedTcpServer server([](const TFrame& Frame) {
    // Echo the request twice, in one segment.
    TFrame twice = Frame;
    twice.insert(twice.end(), Frame.begin(), Frame.end());
    return TScriptedTcpServer::TScript{TScriptedTcpServer::Send(twice)};
  });
  TTcpClient client;
  client.SetHost("localhost");
  client.SetPort(server.Port());
  client.SetConnectTimeout(2000);
  client.Connect();
  EXPECT_TRUE(client.Connected());
  EXPECT_THROW(client.Connect(), ETcpConnectionError);  // already connected

  const TFrame sent = Request(0x41);
  client.WriteDirect(sent);
  for (int i = 0; i < 100 && client.InputBufferSize() < 24; ++i) client.CheckForDataOnSource(50);
  ASSERT_EQ(client.InputBufferSize(), 24u);
  EXPECT_EQ(client.InputBuffer()[0], 0x41);

  TFrame taken{0xAA};
  client.ReadBytes(taken, 12);  // appended behind what the array held
  ASSERT_EQ(taken.size(), 13u);
  EXPECT_EQ(TFrame(taken.begin() + 1, taken.end()), sent);
  EXPECT_THROW(client.ReadBytes(taken, 13), std::out_of_range);
  client.DiscardBytes(12);
  EXPECT_EQ(client.InputBufferSize(), 0u);
  EXPECT_FALSE(client.CheckForDataOnSource(0));

  client.Disconnect();
  EXPECT_FALSE(client.Connected());
}

TEST(TcpClient, PeerThatClosesIsNoticedAndWritingToItNeverRaisesSIGPIPE) {
  TScriptedTcpServer server(
      [](const TFrame&) { return TScriptedTcpServer::TScript{TScriptedTcpServer::Close()}; });
  TTcpClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.Connect();
  client.WriteDirect(Request(1));
  ASSERT_TRUE(server.WaitForRequests(1, 5s));

  // Keep writing until the reset surfaces: an exception, never a signal.
  bool raised = false;
  for (int i = 0; i < 200 && !raised; ++i) {
    try {
      client.WriteDirect(Request(2));
      std::this_thread::sleep_for(10ms);
    } catch (const ETcpConnectionError&) {
      raised = true;
    }
  }
  EXPECT_TRUE(raised);
  EXPECT_FALSE(client.Connected());
}

TEST(TcpClient, GracefulDisconnectCheckRaisesOnceThePeerHasClosed) {
  TScriptedTcpServer server(
      [](const TFrame&) { return TScriptedTcpServer::TScript{TScriptedTcpServer::Close()}; });
  TTcpClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.Connect();
  EXPECT_NO_THROW(client.CheckForGracefulDisconnect());
  client.WriteDirect(Request(1));
  bool raised = false;
  for (int i = 0; i < 200 && !raised; ++i) {
    try {
      client.CheckForGracefulDisconnect();
      std::this_thread::sleep_for(10ms);
    } catch (const ETcpConnectionError& Error) {
      raised = true;
      EXPECT_NE(std::string(Error.what()).find("closed by the server"), std::string::npos);
    }
  }
  EXPECT_TRUE(raised);
}
