// The serial collection cycle without a window: its error-bar texts, the
// request it queues, and what it does with replies that no longer fit the
// settings, against a scripted RTU slave on a pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

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
    cycle.OnShowError = [this](const std::string& text) { errorBar = text; };
    cycle.OnHideError = [this] { errorBar.reset(); };
    cycle.OnReplyHandled = [this](const TTransactionInfo&) { ++replies; };
  }
  void Load(const std::string& mapText) {
    ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, mapText,
                                      TMapSettings{settings.Float32, settings.MeterInstanceIndex}),
              TLoadResult::lrOk);
    map.UpdateGridStruct();
  }
  bool WaitForReplies(int count) {
    return DefaultMainThread().ProcessMessagesUntil([&] { return replies >= count; },
                                                    std::chrono::seconds(5));
  }
  const std::string& Value(std::size_t row) const { return map.Grid().Cell(row, gcValue); }

  TScriptedRtuSlave slave;
  TModbusConnection connection;
  TModbusClient client;
  TRegisterMap map;
  TSerialCycleSettings settings;
  TSerialCollectionCycle cycle{connection, client, map, [this] { return settings; }};
  std::optional<std::string> errorBar;
  int replies = 0;
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
  ASSERT_TRUE(WaitForReplies(1));
  ASSERT_EQ(slave.RequestCount(), 1u);
  EXPECT_EQ(slave.Requests()[0].Start, 4200);
  EXPECT_EQ(slave.Requests()[0].Count, 3);
  EXPECT_TRUE(cycle.Decoded());
  EXPECT_TRUE(cycle.DataAvailable());
  EXPECT_EQ(Value(0), "7");
  EXPECT_EQ(Value(1), "50");
  EXPECT_EQ(map.Grid().Cell(1, gcAddress), "4201");
  EXPECT_FALSE(connection.Active());
}

TEST_F(SerialCycleTest, AReplyForAnotherLayoutIsNotDecodedIntoTheCurrentOne) {
  Load("1-0:32.7.0|F|Tensione\r\n");  // 1 + 4 registers, 1 + 2 with the float32 option
  slave.SetReplyDelay(std::chrono::milliseconds(100));
  ASSERT_TRUE(cycle.CollectDataSerial());
  settings.Float32 = true;  // switched while the request is on its way
  ASSERT_TRUE(WaitForReplies(1));
  EXPECT_FALSE(cycle.Decoded());
  EXPECT_EQ(map.RegData()[1], "");
  EXPECT_FALSE(errorBar.has_value());
  EXPECT_FALSE(connection.Active());  // still the last reply: the port closes
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
  EXPECT_FALSE(cycle.PollSerialUpdate());
  EXPECT_EQ(errorBar, "Register count must be between 1 and 125");
  EXPECT_EQ(Value(0), "<N/A>");
  EXPECT_FALSE(connection.Active());
  DefaultMainThread().ProcessMessagesUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(slave.RequestCount(), 0u);
}

TEST_F(SerialCycleTest, ASlaveAddressThatIsNotANumberRaisesBeforeThePortOpens) {
  Load("1-0:14.7.0|f|Frequenza\r\n");
  settings.SlaveAddressText = "abc";
  EXPECT_THROW(cycle.CollectDataSerial(), std::exception);
  EXPECT_FALSE(connection.Active());
}

}  // namespace
