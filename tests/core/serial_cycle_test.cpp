// The serial collection cycle without a window: its error-bar texts, the
// request it queues, the outcome it ends in and what it does with replies
// that no longer fit the settings, against a scripted RTU slave on a
// pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "Commons.h"
#include "FrameBytes.h"
#include "ScriptedDeviceServer.h"
#include "ScriptedRtuSlave.h"
#include "SerialCollectionCycle.h"

namespace {

using serialtest::TScriptedRtuSlave;

TEST(SerialReplyText, EveryReplyAndExceptionHasItsItalianText) {
  const auto text = [](TServerReply reply, TServerException exception = seUnknown) {
    TTransactionInfo info;
    info.Reply = reply;
    info.Exception = exception;
    return ServerReplyText(info);
  };
  EXPECT_EQ(text(srNone), "Nessuna Risposta");
  EXPECT_EQ(text(srInvalidFrame), "Frame non valido");
  EXPECT_EQ(text(srUnexpectedReply), "Risposta non attesa");
  EXPECT_EQ(text(srUnmatchedReply), "Risposta fuori sequenza");
  EXPECT_EQ(text(srNormalReply), "");
  const char* exceptions[] = {"Sconosciuta",     "Comando Illegale",      "Indirizzo Illegale",
                              "Valore Illegale", "Fallimento del Server", "Acknowledge",
                              "Server Occupato", "Acknowledge negativo",  "Errore di Parità"};
  for (int e = seUnknown; e <= seMemoryParityError; ++e)
    EXPECT_EQ(text(srExceptionReply, static_cast<TServerException>(e)),
              std::string("Eccezione Server: ") + exceptions[e])
        << e;
  // A value outside the enumeration reads as an unknown exception.
  EXPECT_EQ(SerialExceptionText(static_cast<TServerException>(42)), "Sconosciuta");
}

// The cycle with its own connection, client and map, and the library's
// results drained from the default main-thread queue.
class SerialCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.Port = slave.Path();
    cycle.OnCycleEnded = [this](const TCycleOutcome& outcome) { outcomes.push_back(outcome); };
  }
  void Load(const std::string& mapText) {
    ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, mapText,
                                      TMapSettings{settings.Float32, settings.MeterInstanceIndex}),
              TLoadResult::lrOk);
    map.UpdateGridStruct();
  }
  bool WaitForOutcomes(std::size_t count) {
    return DefaultMainThread().ProcessMessagesUntil([&] { return outcomes.size() >= count; },
                                                    std::chrono::seconds(5));
  }
  const std::string& Value(std::size_t row) const { return outcomes.back().Entries[row].Text; }

  TScriptedRtuSlave slave;
  TModbusConnection connection;
  TModbusClient client;
  TRegisterMap map;
  TSerialCycleSettings settings;
  TSerialCollectionCycle cycle{connection, client, map, [this] { return settings; }};
  std::vector<TCycleOutcome> outcomes;
};

TEST_F(SerialCycleTest, MeterInstanceFiveWithFloat32ReadsFromRegister4200) {
  settings.Float32 = true;
  settings.MeterInstanceIndex = 4;
  settings.FrameEndByLength = true;    // "Fine frame per lunghezza" reaches the connection
  Load("1-0:14.7.0|F|Frequenza\r\n");  // a single in the 32-bit-float layout
  slave.SetRegister(4200, 0x0007);
  slave.SetRegister(4201, 0x0000);
  slave.SetRegister(4202, 0x4248);  // 50.0f, least significant word first
  ASSERT_TRUE(cycle.CollectDataSerial());
  EXPECT_TRUE(connection.Active());
  EXPECT_TRUE(connection.FrameEndByLength());
  ASSERT_TRUE(WaitForOutcomes(1));
  ASSERT_EQ(slave.RequestCount(), 1u);
  EXPECT_EQ(slave.Requests()[0].Start, 4200);
  EXPECT_EQ(slave.Requests()[0].Count, 3);
  EXPECT_TRUE(outcomes[0].Ok);
  EXPECT_EQ(outcomes[0].Error, "");
  EXPECT_EQ(outcomes[0].Words, (std::vector<std::uint16_t>{7, 0, 0x4248}));
  EXPECT_EQ(Value(0), "7");
  EXPECT_EQ(outcomes[0].Entries[1].Number, TEntryNumber{50.0f});
  EXPECT_EQ(map.Regs()[1].regAddress, "4201");
  EXPECT_FALSE(connection.Active());
}

TEST_F(SerialCycleTest, AReplyForAnotherLayoutIsNotDecodedIntoTheCurrentOne) {
  Load("1-0:32.7.0|F|Tensione\r\n");  // 1 + 4 registers, 1 + 2 with the float32 option
  slave.SetReplyDelay(std::chrono::milliseconds(100));
  ASSERT_TRUE(cycle.CollectDataSerial());
  settings.Float32 = true;  // switched while the request is on its way
  ASSERT_TRUE(DefaultMainThread().ProcessMessagesUntil([&] { return !connection.Active(); },
                                                       std::chrono::seconds(5)))
      << "still the last reply: the port closes";
  EXPECT_TRUE(outcomes.empty()) << "it ends no cycle";
  EXPECT_EQ(map.RegData()[1], "");
}

TEST_F(SerialCycleTest, AMapBeyondSixteenBitsOfRegistersIsRefusedNotCut) {
  // 16384 doubles of 4 registers and the firmware word: 65537 registers,
  // which cut to 16 bits would read as a single one. A map that large spans
  // more than a meter instance and is refused at load; a map of 126
  // registers, which the device holds, is refused by the cycle.
  std::string text;
  for (int i = 0; i < 16384; ++i) text += "1-0:0.0." + std::to_string(i) + "|F|Valore\r\n";
  EXPECT_EQ(map.LoadConfigFromBytes(mpNormal, text, TMapSettings{}), TLoadResult::lrInvalidMap);
  Load(std::string(text.begin(),
                   text.begin() + static_cast<std::ptrdiff_t>(text.find("1-0:0.0.31|"))) +
       "1-0:0.0.31|i|Valore\r\n");
  EXPECT_FALSE(cycle.CollectDataSerial());
  ASSERT_EQ(outcomes.size(), 1u) << "the cycle ended at once";
  EXPECT_TRUE(outcomes[0].EndsPoll);
  EXPECT_EQ(outcomes[0].Error, "Register count must be between 1 and 125");
  EXPECT_EQ(Value(0), "<N/A>");
  EXPECT_FALSE(connection.Active());
  DefaultMainThread().ProcessMessagesUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(slave.RequestCount(), 0u);
}

TEST_F(SerialCycleTest, ASettingThatCannotBeReadRaisesBeforeThePortOpens) {
  Load("1-0:14.7.0|f|Frequenza\r\n");
  TSerialCollectionCycle refusing{connection, client, map, []() -> TSerialCycleSettings {
                                    throw EConvertError("Slave Address");
                                  }};
  EXPECT_THROW(refusing.CollectDataSerial(), EConvertError);
  EXPECT_FALSE(connection.Active());
}

// Through a serial device server the connection may stay open from one cycle
// to the next (the poller's --leave-open); otherwise each reply closes it and
// the next cycle connects again.
TEST(SerialCycleOverTcp, LeaveStreamOpenKeepsOneConnectionForEveryCycle) {
  for (const bool leaveOpen : {false, true}) {
    SCOPED_TRACE(leaveOpen ? "left open" : "closed after each reply");
    // Answers a read of N registers with the firmware word and N - 1 zeros.
    serialtest::TScriptedDeviceServer server([](const serialtest::TBytes& query) {
      const int count = query.size() >= 6 ? query[5] : 1;
      serialtest::TBytes frame{1, 3, static_cast<std::uint8_t>(2 * count), 0, 103};
      frame.resize(3 + 2 * static_cast<std::size_t>(count));
      return serialtest::TTcpAnswer{{{0, serialtest::Rtu(frame)}}};
    });
    TModbusConnection connection;
    TModbusClient client;
    TRegisterMap map;
    ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "1-0:14.7.0|i|Contatore\r\n", TMapSettings{}),
              TLoadResult::lrOk);
    map.UpdateGridStruct();
    TSerialCycleSettings settings;
    settings.Port = server.PortName();
    settings.LeaveStreamOpen = leaveOpen;
    TSerialCollectionCycle cycle{connection, client, map, [&] { return settings; }};
    int ok = 0;
    cycle.OnCycleEnded = [&](const TCycleOutcome& outcome) { ok += outcome.Ok ? 1 : 0; };
    for (int i = 1; i <= 3; ++i) {
      ASSERT_TRUE(cycle.CollectDataSerial());
      ASSERT_TRUE(DefaultMainThread().ProcessMessagesUntil([&] { return ok == i; },
                                                           std::chrono::seconds(5)));
    }
    EXPECT_EQ(connection.Active(), leaveOpen);
    EXPECT_EQ(server.Connections(), leaveOpen ? 1 : 3);
    connection.Close();
  }
}

}  // namespace
