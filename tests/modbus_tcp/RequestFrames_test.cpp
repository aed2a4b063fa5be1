// The bytes each request puts on the wire, from the transaction identifier to
// the last value byte.

#include <functional>
#include <string>
#include <vector>

#include "ClientFixture.h"

using TFrame = TScriptedTcpServer::TFrame;

namespace {

struct FrameCase {
  std::string Name;
  std::function<void(TIdModBusClient&)> Request;
  TFrame Expected;  // the whole frame, transaction identifier 1, unit 255
};

std::ostream& operator<<(std::ostream& Out, const FrameCase& Case) {
  return Out << Case.Name;
}

std::vector<FrameCase> FrameCases() {
  return {
      {"ReadCoils",
       [](TIdModBusClient& c) {
         std::vector<bool> v;
         c.ReadCoils(11, 10, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x01, 0x00, 0x0A, 0x00, 0x0A}},
      {"ReadCoilsCappedAt250",
       [](TIdModBusClient& c) {
         std::vector<bool> v;
         c.ReadCoils(1, 300, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x01, 0x00, 0x00, 0x00, 0xFA}},
      {"ReadCoil",
       [](TIdModBusClient& c) {
         bool v;
         c.ReadCoil(1, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x01}},
      {"ReadInputBits",
       [](TIdModBusClient& c) {
         std::vector<bool> v;
         c.ReadInputBits(0x0101, 16, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x02, 0x01, 0x00, 0x00, 0x10}},
      {"ReadHoldingRegistersCappedAt125",
       [](TIdModBusClient& c) {
         std::vector<uint16_t> v;
         c.ReadHoldingRegisters(1, 300, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x7D}},
      {"RegisterZeroWrapsToFFFF",
       [](TIdModBusClient& c) {
         uint16_t v;
         c.ReadHoldingRegister(0, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x03, 0xFF, 0xFF, 0x00, 0x01}},
      {"ReadInputRegisters",
       [](TIdModBusClient& c) {
         std::vector<uint16_t> v;
         c.ReadInputRegisters(0x1235, 2, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x04, 0x12, 0x34, 0x00, 0x02}},
      {"ReadInputRegister",
       [](TIdModBusClient& c) {
         uint16_t v;
         c.ReadInputRegister(2, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x04, 0x00, 0x01, 0x00, 0x01}},
      {"ReadDWord",
       [](TIdModBusClient& c) {
         uint32_t v;
         c.ReadDWord(1, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x02}},
      {"ReadSingle",
       [](TIdModBusClient& c) {
         float v;
         c.ReadSingle(1, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x02}},
      {"ReadDouble",
       [](TIdModBusClient& c) {
         double v;
         c.ReadDouble(1, v);
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x04}},
      {"ReadStringOfFiveReadsThreeRegisters",
       [](TIdModBusClient& c) { c.ReadString(1, 5); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x03}},
      {"ReadStringOfZeroReadsZeroRegisters",
       [](TIdModBusClient& c) { c.ReadString(1, 0); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x00}},
      {"WriteCoilOn",
       [](TIdModBusClient& c) { c.WriteCoil(5, true); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x05, 0x00, 0x04, 0xFF, 0x00}},
      {"WriteCoilOff",
       [](TIdModBusClient& c) { c.WriteCoil(5, false); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x05, 0x00, 0x04, 0x00, 0x00}},
      {"WriteRegister",
       [](TIdModBusClient& c) { c.WriteRegister(2, 0xBEEF); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x06, 0x00, 0x01, 0xBE, 0xEF}},
      {"WriteCoilsSendsWhatTheArrayHolds",
       [](TIdModBusClient& c) {
         c.WriteCoils(1, 3, {true, false, true, false, false, false, false, false, false, true});
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x09, 0xFF, 0x0F, 0x00, 0x00, 0x00, 0x0A, 0x02, 0x05, 0x02}},
      {"WriteRegisters",
       [](TIdModBusClient& c) {
         c.WriteRegisters(1, {0x0001, 0xA0B0});
       },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x0B, 0xFF, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01,
        0xA0, 0xB0}},
      {"WriteDWordHighWordFirst",
       [](TIdModBusClient& c) { c.WriteDWord(1, 305419896); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x0B, 0xFF, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x12, 0x34,
        0x56, 0x78}},
      {"WriteSingleLowWordFirst",
       [](TIdModBusClient& c) { c.WriteSingle(1, 1.0f); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x0B, 0xFF, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x00,
        0x3F, 0x80}},
      {"WriteDoubleLowestWordFirst",
       [](TIdModBusClient& c) { c.WriteDouble(1, 1.0); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x0F, 0xFF, 0x10, 0x00, 0x00, 0x00,
        0x04, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3F, 0xF0}},
      {"WriteStringPadsTheLastRegister",
       [](TIdModBusClient& c) { c.WriteString(1, "ABC"); },
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x0B, 0xFF, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x41, 0x42,
        0x43, 0x00}},
  };
}

class RequestFrame : public ClientFixture, public testing::WithParamInterface<FrameCase> {};

}  // namespace

TEST_P(RequestFrame, MatchesTheWireLayout) {
  TModbusMemory memory;
  Start(memory.Handler());
  GetParam().Request(Client);
  EXPECT_EQ(LastRequest(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(EveryFunctionCode, RequestFrame, testing::ValuesIn(FrameCases()),
                         [](const auto& Info) { return Info.param.Name; });

TEST_F(ClientFixture, WriteOfMoreThan125RegistersSendsTheFirst125) {
  Start(TScriptedTcpServer::Always(TScriptedTcpServer::WriteReply));
  std::vector<uint16_t> values(130);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint16_t>(i);
  EXPECT_TRUE(Client.WriteRegisters(1, values));
  const TFrame request = LastRequest();
  ASSERT_EQ(request.size(), 13u + 250u);
  EXPECT_EQ(request[4], 0x01);  // RecLength 257
  EXPECT_EQ(request[5], 0x01);
  EXPECT_EQ(request[10], 0x00);  // count 125
  EXPECT_EQ(request[11], 0x7D);
  EXPECT_EQ(request[12], 250);
  EXPECT_EQ(request[13 + 2 * 124 + 1], 124);  // last value sent is element 124
}

TEST_F(ClientFixture, WriteSingleCoilSendsOnForAnyNonZeroValue) {
  Start(TScriptedTcpServer::Always(TScriptedTcpServer::WriteReply));
  std::vector<uint16_t> data{7};
  EXPECT_TRUE(Client.SendCommand(mbfWriteOneCoil, 1, 0, data));
  const TFrame request = LastRequest();
  EXPECT_EQ(request[10], 0xFF);
  EXPECT_EQ(request[11], 0x00);
}

TEST_F(ClientFixture, UnitIdAndBaseRegisterShapeTheHeaderAndAddress) {
  TModbusMemory memory;
  Start(memory.Handler());
  Client.SetUnitID(0x11);
  Client.SetBaseRegister(0);
  uint16_t value = 0;
  EXPECT_TRUE(Client.ReadHoldingRegister(0x0200, value));
  const TFrame request = LastRequest();
  EXPECT_EQ(request[6], 0x11);
  EXPECT_EQ(request[8], 0x02);
  EXPECT_EQ(request[9], 0x00);
}

TEST_F(ClientFixture, TransactionIdentifiersCountFromOneAndWrapAfter65535) {
  TModbusMemory memory;
  Start(memory.Handler());
  uint16_t value = 0;
  EXPECT_TRUE(Client.ReadHoldingRegister(1, value));
  EXPECT_TRUE(Client.ReadHoldingRegister(1, value));
  for (int i = 0; i < 65532; ++i) Client.GetNewTransactionID();  // last handed out: 65534
  EXPECT_TRUE(Client.ReadHoldingRegister(1, value));
  EXPECT_TRUE(Client.ReadHoldingRegister(1, value));
  ASSERT_TRUE(Server->WaitForRequests(4, std::chrono::seconds(5)));
  const auto requests = Server->Requests();
  // Sent low byte first.
  EXPECT_EQ((TFrame{requests[0][0], requests[0][1]}), (TFrame{0x01, 0x00}));
  EXPECT_EQ((TFrame{requests[1][0], requests[1][1]}), (TFrame{0x02, 0x00}));
  EXPECT_EQ((TFrame{requests[2][0], requests[2][1]}), (TFrame{0xFF, 0xFF}));
  EXPECT_EQ((TFrame{requests[3][0], requests[3][1]}), (TFrame{0x00, 0x00}));

  // A new connection starts over at 1.
  Client.Disconnect();
  Client.Connect();
  EXPECT_EQ(Client.GetNewTransactionID(), 1);
}

TEST_F(ClientFixture, AutoConnectOpensAndClosesAConnectionPerRequest) {
  TModbusMemory memory;
  memory.SetRegister(0, 42);
  Start(memory.Handler(), /*AutoConnect=*/true);
  uint16_t value = 0;
  EXPECT_TRUE(Client.ReadHoldingRegister(1, value));
  EXPECT_EQ(value, 42);
  EXPECT_FALSE(Client.Connected());
  EXPECT_TRUE(Client.WriteRegister(1, 43));
  EXPECT_FALSE(Client.Connected());
  ASSERT_TRUE(Server->WaitForRequests(2, std::chrono::seconds(5)));
  for (const TFrame& request : Server->Requests()) {
    EXPECT_EQ(request[0], 0x01);  // every fresh connection starts at identifier 1
    EXPECT_EQ(request[1], 0x00);
  }
  EXPECT_EQ(Server->ConnectionCount(), 2);
}

TEST_F(ClientFixture, EmptyWriteStringSendsNothingAndDoesNotConnect) {
  Start(TScriptedTcpServer::Always(TScriptedTcpServer::WriteReply), /*AutoConnect=*/true);
  EXPECT_FALSE(Client.WriteString(1, ""));
  EXPECT_EQ(Server->ConnectionCount(), 0);
  EXPECT_TRUE(Server->Requests().empty());
}
