// The connection over a TCP stream to a serial device server: the port's name, replies that
// TCP cuts into pieces, a server that closes after each reply, and what a refused, closed
// or reset connection tells the application.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "ClientTestSupport.h"
#include "ScriptedDeviceServer.h"

namespace {

using namespace serialtest;
using ::testing::HasSubstr;

const TBytes ReadReply = Rtu({1, 3, 6, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03});

TEST(TcpStreamAddress, OnlyTcpHostPortNamesAStream) {
  struct TRow {
    const char* Name;
    const char* Host;  // null: not a stream address
    int Port;
  };
  const TRow Rows[] = {
      {"tcp://127.0.0.1:502", "127.0.0.1", 502},
      {"TCP://gateway.local:4001", "gateway.local", 4001},
      {"tcp://[::1]:65535", "::1", 65535},
      {"tcp://::1:502", nullptr, 0},
      {"tcp://host", nullptr, 0},
      {"tcp://host:0", nullptr, 0},
      {"tcp://host:65536", nullptr, 0},
      {"tcp://:502", nullptr, 0},
      {"tcp://host:5o2", nullptr, 0},
      {"tcp://[::1]502", nullptr, 0},
      {"/dev/ttyUSB0", nullptr, 0},
  };
  for (const TRow& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    const auto Address = ParseTcpStreamAddress(Row.Name);
    ASSERT_EQ(Address.has_value(), Row.Host != nullptr);
    if (!Address) continue;
    EXPECT_EQ(Address->Host, Row.Host);
    EXPECT_EQ(Address->Port, Row.Port);
  }
}

class OverTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    SetApplicationExceptionHandler([this](std::exception_ptr Error) {
      try {
        std::rethrow_exception(Error);
      } catch (const std::exception& E) {
        Reported.push_back(E.what());
      }
    });
    Connection.SetReceiveTimeout(2000);
    Client.SetConnection(&Connection);
    Client.OnHoldingRegistersRead = [this](auto&, const TTransactionInfo& Info, auto, auto,
                                           const TRegValues& V) {
      Last = Info;
      Values = V;
    };
  }
  void TearDown() override {
    Connection.Close();
    TClientRig::Main().ProcessMessages();
    SetApplicationExceptionHandler(nullptr);
  }
  void Open(TTcpScript Script) {
    Server = std::make_unique<TScriptedDeviceServer>(std::move(Script));
    Connection.SetPort(Server->PortName());
    Connection.Open();
  }
  // One read of three registers; srNone also when the read was never reported.
  TServerReply ReadOnce() {
    Last.reset();
    const std::size_t Failures = Reported.size();
    Client.ReadHoldingRegisters(0x10, 3);
    TClientRig::RunUntil([&] { return Last || Reported.size() > Failures; });
    return Last ? Last->Reply : srNone;
  }

  TModbusConnection Connection;
  TModbusClient Client;
  std::unique_ptr<TScriptedDeviceServer> Server;
  std::optional<TTransactionInfo> Last;
  TRegValues Values;
  std::vector<std::string> Reported;
};

class RepliesInPieces : public OverTcp, public ::testing::WithParamInterface<int> {};

// A frame ends by its length: a reply that waited for the network's silence would take
// seconds here.
TEST_P(RepliesInPieces, EndByTheirLengthNotAtTheSilence) {
  Connection.SetNetworkSilentInterval(3000);
  Connection.SetBaudRate(br110);  // not a stream's business
  const std::size_t Piece = static_cast<std::size_t>(GetParam());
  Open([Piece](const TBytes&) {
    TTcpAnswer Answer;
    for (std::size_t At = 0; At < ReadReply.size(); At += Piece)
      Answer.Chunks.push_back({2, TBytes(ReadReply.begin() + static_cast<long>(At),
                                         ReadReply.begin() + static_cast<long>(std::min(
                                                                 At + Piece, ReadReply.size())))});
    return Answer;
  });
  EXPECT_EQ(Connection.RealSilentInterval(), 3000u);
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadOnce(), srNormalReply);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 2500ms);
  EXPECT_EQ(Values, (TRegValues{1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(OneAndSevenBytes, RepliesInPieces, ::testing::Values(1, 7));

TEST_F(OverTcp, AServerThatClosesAfterEachReplyIsAskedOnANewConnection) {
  Open([](const TBytes&) { return TTcpAnswer{{{0, ReadReply}}, TAfterAnswer::Close}; });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadOnce(), srNormalReply);
  EXPECT_EQ(Server->Connections(), 3);
  EXPECT_TRUE(Reported.empty());
}

TEST_F(OverTcp, ARefusedConnectNamesTheAddressAndTheNextOpenConnects) {
  const std::uint16_t Port =
      TScriptedDeviceServer([](const TBytes&) { return TTcpAnswer{}; }).Port();
  Connection.SetPort("tcp://127.0.0.1:" + std::to_string(Port));
  try {
    Connection.Open();
    FAIL() << "opened a port nobody listens on";
  } catch (const std::system_error& E) {
    EXPECT_THAT(E.what(),
                HasSubstr("Could not connect to tcp://127.0.0.1:" + std::to_string(Port)));
    EXPECT_EQ(E.code(), std::errc::connection_refused);
  }
  EXPECT_FALSE(Connection.Active());
  Server = std::make_unique<TScriptedDeviceServer>(
      [](const TBytes&) {
        return TTcpAnswer{{{0, ReadReply}}};
      },
      Port);
  Connection.Open();
  EXPECT_EQ(ReadOnce(), srNormalReply);
}

class LostConnection : public OverTcp, public ::testing::WithParamInterface<TAfterAnswer> {};

TEST_P(LostConnection, FailsTheQueryNamingTheAddressAndTheNextQueryConnectsAgain) {
  const TAfterAnswer Ending = GetParam();
  int Answered = 0;  // the server's thread only
  Open([Ending, &Answered](const TBytes&) {
    if (Answered++ == 0) return TTcpAnswer{{}, Ending};  // gone without a reply
    return TTcpAnswer{{{0, ReadReply}}};
  });
  EXPECT_EQ(ReadOnce(), srNone);
  ASSERT_EQ(Reported.size(), 1u);
  EXPECT_THAT(Reported[0], HasSubstr("Lost the connection to " + Server->PortName() + ": "));
  EXPECT_THAT(Reported[0],
              HasSubstr(Ending == TAfterAnswer::Close ? "closed by the server" : "reset by peer"));
  EXPECT_EQ(ReadOnce(), srNormalReply);
  EXPECT_EQ(Server->Connections(), 2);
}

INSTANTIATE_TEST_SUITE_P(ClosedAndReset, LostConnection,
                         ::testing::Values(TAfterAnswer::Close, TAfterAnswer::Reset));

}  // namespace
