#include "TcpCollectionCycle.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Commons.h"
#include "LoopbackModbusServer.h"
#include "RegisterTypes.h"
#include "TcpFailureTexts.h"

namespace {

using TAction = TLoopbackModbusServer::TAction;
using TRequest = TLoopbackModbusServer::TRequest;
// (address, count) of every request the server saw.
using TBlocks = std::vector<std::pair<uint16_t, uint16_t>>;

// A QVZT map of Count one-register entries: no firmware entry, so the map
// spans exactly Count registers from the base address.
std::string WordMap(int Count) {
  std::string text;
  for (int i = 0; i < Count; ++i)
    text += "1-0:" + std::to_string(i) + ".7.0|i|word " + std::to_string(i) + "\r\n";
  return text;
}

class TcpCycleTest : public ::testing::Test {
 protected:
  void LoadMap(EMapType Type, const std::string& Text, bool Float32 = false) {
    ASSERT_EQ(Map.LoadConfigFromBytes(Type, Text, TMapSettings{Float32, 0}), TLoadResult::lrOk);
    Map.UpdateGridStruct();
  }
  TTcpCycleSettings Settings() const {
    TTcpCycleSettings settings;
    settings.Host = "127.0.0.1";
    settings.Port = Server.Port();
    settings.QvztMode = true;
    return settings;
  }
  TBlocks SentBlocks() const {
    TBlocks blocks;
    for (const TRequest& r : Server.Requests()) blocks.emplace_back(r.Address, r.Count);
    return blocks;
  }

  TLoopbackModbusServer Server;
  TIdModBusClient Client;
  TRegisterMap Map;
  TTcpCollectionCycle Cycle{Client, Map};
};

TEST_F(TcpCycleTest, ReadsTheMapInContiguousBlocksOfAtMost124Registers) {
  const struct {
    int Registers;
    TBlocks Expected;
  } cases[] = {
      {124, {{0, 124}}},
      {125, {{0, 124}, {124, 1}}},
      {300, {{0, 124}, {124, 124}, {248, 52}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Registers);
    for (int i = 0; i < c.Registers; ++i)
      Server.SetRegister(static_cast<uint16_t>(i), static_cast<uint16_t>(i * 3));
    LoadMap(mpQVZT, WordMap(c.Registers));
    const size_t before = Server.Requests().size();
    const TCycleOutcome outcome = Cycle.CollectDataTCP(Settings());
    ASSERT_TRUE(outcome.Ok) << outcome.Error;
    EXPECT_EQ(outcome.Error, "");
    EXPECT_EQ(outcome.Words.size(), static_cast<size_t>(c.Registers));
    const TBlocks all = SentBlocks();
    EXPECT_EQ(TBlocks(all.begin() + static_cast<long>(before), all.end()), c.Expected);
    // QVZT decodes with the bytes of every register exchanged.
    const uint16_t last = static_cast<uint16_t>((c.Registers - 1) * 3);
    EXPECT_EQ(Map.RegData().back(), std::to_string(static_cast<uint16_t>(last << 8 | last >> 8)));
    EXPECT_EQ(Map.Regs().back().regAddress, std::to_string(c.Registers - 1));
  }
}

TEST_F(TcpCycleTest, BaseAddressFollowsMeterInstanceAndFloat32Option) {
  // Firmware word, one double and one word: 4 registers in the 32-bit-float layout.
  LoadMap(mpNormal, "1-0:1.8.0|F|energia\n1-0:14.7.0|i|frequenza\n", true);
  Server.SetRegister(1200, 0x0102);
  TTcpCycleSettings settings = Settings();
  settings.QvztMode = false;
  settings.Float32 = true;
  settings.MeterInstanceIndex = 1;
  ASSERT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  EXPECT_EQ(SentBlocks(), (TBlocks{{1200, 4}}));
  EXPECT_EQ(Map.BaseAddress(), 1200);
  EXPECT_EQ(Map.Regs()[2].regAddress, "1203");
  EXPECT_EQ(Map.RegData()[0], "258");  // BS_1_0_3_2 keeps a word as it is
}

TEST_F(TcpCycleTest, EmptyMapSendsNothingAndSucceeds) {
  LoadMap(mpQVZT, "");
  EXPECT_TRUE(Cycle.CollectDataTCP(Settings()).Ok);
  EXPECT_TRUE(Server.Requests().empty());
}

// A block that does not come back: the error bar says why, the entries of
// the blocks read before it show this cycle's values, the rest "<N/A>" (never
// the last cycle's), and the poll goes on.
struct TFailedBlock {
  const char* Name;
  TAction Action;
  const char* Text;
};

void PrintTo(const TFailedBlock& Row, std::ostream* Out) {
  *Out << Row.Name;
}

class FailedBlock : public TcpCycleTest, public ::testing::WithParamInterface<TFailedBlock> {};

TEST_P(FailedBlock, ShowsWhyAndNotAvailableForWhatItDidNotGet) {
  LoadMap(mpQVZT, WordMap(130));
  Client.SetTimeOut(300);
  Server.SetRegister(0, 0x0100);
  Server.SetRegister(129, 0x0100);
  ASSERT_TRUE(Cycle.CollectDataTCP(Settings()).Ok);
  ASSERT_EQ(Map.RegData()[129], "1");

  Server.SetRegister(0, 0x0200);
  const TAction action = GetParam().Action;
  Server.SetScript([action](const TRequest& r, int) {
    return r.Address == 124 ? TLoopbackModbusServer::TReply{action, 2}
                            : TLoopbackModbusServer::TReply{};
  });
  const TCycleOutcome outcome = Cycle.CollectDataTCP(Settings());
  EXPECT_FALSE(outcome.Ok);
  EXPECT_FALSE(outcome.EndsPoll);
  EXPECT_EQ(outcome.Entries[0].Text, "2");
  EXPECT_EQ(outcome.Entries[129].Text, NOT_AVAIL);
  EXPECT_EQ(outcome.Error, GetParam().Text);
  EXPECT_EQ(FailedBlockText(outcome), " (registri 124-129)");
  // The connection is closed after a failed block too.
  EXPECT_TRUE(TLoopbackModbusServer::WaitFor([&] { return !Server.ClientOpen(); }));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FailedBlock,
    ::testing::Values(
        TFailedBlock{"ExceptionReply", TAction::Exception, "Eccezione Server: Indirizzo Illegale"},
        TFailedBlock{"NoReply", TAction::Silent, "Nessuna risposta dal dispositivo entro 0.3 s"},
        TFailedBlock{"OtherFunction", TAction::OtherFunction,
                     "Risposta del dispositivo non attesa (funzione 4 invece di 3)"}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST_F(TcpCycleTest, ExceptionCodesWithoutTextOfTheirOwn) {
  LoadMap(mpQVZT, WordMap(4));
  for (const auto& [code, text] :
       {std::pair<uint8_t, const char*>{9, "Eccezione Server: Sconosciuta"},
        {11, "Eccezione Server: Nessuna risposta dal gateway"}}) {
    Server.SetScript([code = code](const TRequest&, int) {
      return TLoopbackModbusServer::TReply{TAction::Exception, code};
    });
    const TCycleOutcome outcome = Cycle.CollectDataTCP(Settings());
    EXPECT_FALSE(outcome.EndsPoll);
    EXPECT_EQ(outcome.Error, text);
  }
}

TEST_F(TcpCycleTest, RefusedConnectionFailsTheCycleAndSaysWhy) {
  LoadMap(mpQVZT, WordMap(4));
  EXPECT_EQ(Client.ConnectTimeout(), TCP_CYCLE_CONNECT_TIMEOUT)
      << "a connect never waits for the kernel";
  TTcpCycleSettings settings = Settings();
  {
    TLoopbackModbusServer closed;  // a port that was free a moment ago
    settings.Port = closed.Port();
  }
  const TCycleOutcome outcome = Cycle.CollectDataTCP(settings);
  EXPECT_TRUE(outcome.EndsPoll);
  EXPECT_EQ(outcome.Error, "Impossibile connettersi a 127.0.0.1:" + std::to_string(settings.Port) +
                               ": connessione rifiutata");
  EXPECT_EQ(outcome.Entries[0].Text, NOT_AVAIL);
}

TEST_F(TcpCycleTest, ConnectionBrokenDuringABlockFailsTheCycle) {
  LoadMap(mpQVZT, WordMap(4));
  Server.SetScript(
      [](const TRequest&, int) { return TLoopbackModbusServer::TReply{TAction::Close}; });
  const TCycleOutcome outcome = Cycle.CollectDataTCP(Settings());
  EXPECT_TRUE(outcome.EndsPoll);
  EXPECT_EQ(outcome.Error, "Connessione col dispositivo persa: chiusa dal dispositivo");
  EXPECT_FALSE(Client.Connected());
}

TEST_F(TcpCycleTest, KeptOpenConnectionIsReusedAndItsLossStopsThePoll) {
  LoadMap(mpQVZT, WordMap(4));
  TTcpCycleSettings settings = Settings();
  settings.LeaveConnectionOpen = true;
  Cycle.StartPoll();
  ASSERT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  ASSERT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  EXPECT_EQ(Server.Connections(), 1);
  EXPECT_TRUE(Client.Connected());

  Server.DropClient();
  const TCycleOutcome lost = Cycle.CollectDataTCP(settings);
  EXPECT_TRUE(lost.EndsPoll);
  EXPECT_EQ(lost.Error, "Connessione col dispositivo interrotta");
  EXPECT_EQ(Server.Connections(), 1);  // no attempt to reconnect

  // A new poll may connect again.
  Cycle.StartPoll();
  EXPECT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  EXPECT_EQ(Server.Connections(), 2);
}

TEST_F(TcpCycleTest, KeptOpenConnectionIsNotReusedForAnotherDevice) {
  LoadMap(mpQVZT, WordMap(1));
  Server.SetRegister(0, 0x0100);
  TTcpCycleSettings settings = Settings();
  settings.LeaveConnectionOpen = true;
  Cycle.StartPoll();
  ASSERT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  ASSERT_EQ(Map.RegData()[0], "1");

  // Between two polls the operator points the window at another meter.
  TLoopbackModbusServer other;
  other.SetRegister(0, 0x0200);
  settings.Port = other.Port();
  Cycle.StartPoll();
  ASSERT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  EXPECT_EQ(Map.RegData()[0], "2");
  EXPECT_EQ(other.Connections(), 1);
  EXPECT_TRUE(TLoopbackModbusServer::WaitFor([&] { return !Server.ClientOpen(); }));

  // And back to the first one.
  settings.Port = Server.Port();
  Cycle.StartPoll();
  ASSERT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  EXPECT_EQ(Map.RegData()[0], "1");
  EXPECT_EQ(Server.Connections(), 2);
}

TEST_F(TcpCycleTest, UncheckedLeaveOpenConnectsAndClosesEveryCycle) {
  LoadMap(mpQVZT, WordMap(4));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(Cycle.CollectDataTCP(Settings()).Ok);
    EXPECT_FALSE(Client.Connected());
  }
  EXPECT_EQ(Server.Connections(), 2);
}

// A host with colons is an IPv6 address, and only IPv6 reaches it.
TEST_F(TcpCycleTest, AHostWithColonsIsReachedOverIPv6) {
  TLoopbackModbusServer server6(AF_INET6);
  server6.SetRegister(0, 0x0100);
  LoadMap(mpQVZT, WordMap(1));
  TTcpCycleSettings settings = Settings();
  settings.Host = "::1";
  settings.Port = server6.Port();
  const TCycleOutcome outcome = Cycle.CollectDataTCP(settings);
  ASSERT_TRUE(outcome.Ok) << outcome.Error;
  EXPECT_EQ(server6.Requests().size(), 1u);
}

TEST_F(TcpCycleTest, MapReachingPastRegister65535IsRefusedInsteadOfWrapping) {
  // 10,257 time stamps of 6 registers from base 4000 would end past register
  // 65535 and wrap around to register 0; a map that large is refused at load
  // (it spans more than a meter instance), so no cycle can read it.
  std::string text;
  for (int i = 0; i < 10257; ++i) text += "0-0:1.0.0|u|istante\n";
  EXPECT_EQ(Map.LoadConfigFromBytes(mpQVZT, text, TMapSettings{false, 4}),
            TLoadResult::lrInvalidMap);
  EXPECT_TRUE(Map.Regs().empty());
}

// The cycle ends in one event, whose readings hold each entry's number beside
// its text.
TEST_F(TcpCycleTest, OneEventPerCycleWithEveryEntrysNumberBesideItsText) {
  LoadMap(mpQVZT, WordMap(2));
  std::vector<TCycleOutcome> ended;
  Cycle.OnCycleEnded = [&](const TCycleOutcome& Outcome) { ended.push_back(Outcome); };
  Server.SetRegister(0, 0x0500);
  EXPECT_TRUE(Cycle.CollectDataTCP(Settings()).Ok);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].Entries[0], (TEntryReading{"5", "0005", std::int64_t{5}}));

  Server.DropClient();
  TTcpCycleSettings settings = Settings();
  settings.LeaveConnectionOpen = true;
  Cycle.StartPoll();
  ASSERT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  Server.DropClient();
  EXPECT_FALSE(Cycle.CollectDataTCP(settings).Ok);
  ASSERT_EQ(ended.size(), 3u);
  EXPECT_EQ(ended[2].Entries[0], (TEntryReading{NOT_AVAIL, NOT_AVAIL, {}}));
}

// A gateway answers 0xFFFF for a switched-off meter instance: the cycle
// says so, without a text of its own, and does not end the poll. Only the
// normal map's firmware word tells; a QVZT map's first word is a value.
TEST_F(TcpCycleTest, AFirmwareWordOfFFFFIsAMeterNotPresent) {
  LoadMap(mpNormal, "1-0:14.7.0|i|frequenza\n");
  Server.SetRegister(0, 0xFFFF);
  TTcpCycleSettings settings = Settings();
  settings.QvztMode = false;
  const TCycleOutcome outcome = Cycle.CollectDataTCP(settings);
  EXPECT_TRUE(outcome.MeterAbsent);
  EXPECT_FALSE(outcome.Ok);
  EXPECT_FALSE(outcome.EndsPoll);
  EXPECT_EQ(outcome.Error, "");
  // No value of a switched-off instance passes for a reading; its bytes stay.
  for (const TEntryReading& entry : outcome.Entries) {
    EXPECT_EQ(entry.Text, NOT_AVAIL);
    EXPECT_EQ(entry.Number, TEntryNumber{});
  }
  EXPECT_EQ(outcome.Entries[0].Raw, "FFFF");
  EXPECT_EQ(outcome.Entries[1].Raw, "0000");

  Server.SetRegister(0, 0x0067);
  EXPECT_TRUE(Cycle.CollectDataTCP(settings).Ok);
  LoadMap(mpQVZT, WordMap(1));
  Server.SetRegister(0, 0xFFFF);
  EXPECT_TRUE(Cycle.CollectDataTCP(Settings()).Ok);
}

}  // namespace

namespace {

// The connect failures a loopback test cannot cause, in the error bar's words.
TEST(TcpFailureTexts, ConnectFailuresSayWhyInItalian) {
  const std::pair<int, std::string> rows[] = {
      {ETIMEDOUT, "Impossibile connettersi a [::1]:502: nessuna risposta entro 5 s"},
      {EHOSTUNREACH, "Impossibile connettersi a [::1]:502: dispositivo non raggiungibile"},
      {0, "Impossibile connettersi a [::1]:502: indirizzo sconosciuto"}};
  for (const auto& [error, text] : rows)
    EXPECT_EQ(ConnectFailureText(TcpEndpointText("::1", 502), error, 5000, "."), text);
  EXPECT_EQ(NoReplyText(15000, ","), "Nessuna risposta dal dispositivo entro 15 s");
}

}  // namespace
