#include "ManualRead.h"

#include <gtest/gtest.h>

#include "Commons.h"
#include "LoopbackModbusServer.h"

namespace {

using TReply = TLoopbackModbusServer::TReply;
using TAction = TLoopbackModbusServer::TAction;

class ManualReadTest : public ::testing::Test {
 protected:
  ManualReadTest() {
    Client.SetPort(Server.Port());
    Client.SetAutoConnect(false);
    Client.SetBaseRegister(0);
    Client.SetTimeOut(2000);
  }
  // The server has seen Connections connections, and none is open any more.
  bool ClosedAgain(int Connections = 1) {
    return TLoopbackModbusServer::WaitFor(
               [&] { return Server.Connections() == Connections && !Server.ClientOpen(); }) &&
           !Client.Connected();
  }
  TLoopbackModbusServer Server;
  TIdModBusClient Client;
};

TEST_F(ManualReadTest, ListsEveryRegisterReadWithItsNumberAndHexValue) {
  Server.SetRegister(10, 0x00AB);
  Server.SetRegister(11, 0xBEEF);
  const auto messages = ManualReadRegisters(Client, "127.0.0.1", "10", "2");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Read 2 registers");
  EXPECT_EQ(messages[1], "Register value(s) read:\r\n     10: 0x00AB\r\n     11: 0xBEEF");
  EXPECT_TRUE(ClosedAgain());
}

TEST_F(ManualReadTest, FailedReadIsReportedAndTheConnectionClosed) {
  Server.SetScript([](const auto&, int) { return TReply{TAction::Exception, 2}; });
  EXPECT_EQ(ManualReadRegisters(Client, "127.0.0.1", "10", "8"),
            std::vector<std::string>{"PLC read operation failed!"});
  EXPECT_TRUE(ClosedAgain());
}

TEST_F(ManualReadTest, ZeroLengthConnectsButReadsNothing) {
  EXPECT_TRUE(ManualReadRegisters(Client, "127.0.0.1", "10", "0").empty());
  EXPECT_TRUE(ClosedAgain());
  EXPECT_TRUE(Server.Requests().empty());
}

TEST_F(ManualReadTest, BlocksBeyondOneRequestOrTheRegisterRangeAreRefused) {
  // 4098 would overrun a fixed buffer; 200 or 65536 would list registers
  // that never came back or wrap to other registers.
  for (const char* length : {"126", "200", "4097", "4098", "65536", "-1"}) {
    const auto messages = ManualReadRegisters(Client, "127.0.0.1", "10", length);
    ASSERT_EQ(messages.size(), 1u) << length;
    EXPECT_EQ(messages[0], "Block length must be between 0 and 125") << length;
  }
  EXPECT_EQ(ManualReadRegisters(Client, "127.0.0.1", "65500", "100"),
            std::vector<std::string>{"Register number must be between 0 and 65436"});
  EXPECT_TRUE(ClosedAgain(1));  // only the range check of the start needed a connection
  EXPECT_TRUE(Server.Requests().empty());

  const auto top = ManualReadRegisters(Client, "127.0.0.1", "65411", "125");
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0], "Read 125 registers");
}

TEST_F(ManualReadTest, TextThatIsNoNumberRaisesAfterClosingTheConnection) {
  EXPECT_THROW(ManualReadRegisters(Client, "127.0.0.1", "10", "otto"), EConvertError);
  EXPECT_EQ(Server.Connections(), 0);  // the length is checked before connecting
  EXPECT_THROW(ManualReadRegisters(Client, "127.0.0.1", "dieci", "8"), EConvertError);
  EXPECT_TRUE(ClosedAgain());
}

}  // namespace
