// Our slave against independent masters over a pseudo-terminal bridge: mbpoll (libmodbus)
// in RTU, a pymodbus serial client in RTU and ASCII, and our own client for all eight
// commands the slave supports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProgram.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "ModbusServer.h"
#include "PtyBridge.h"
#include "RequirePeer.h"
#include "ServerTestApplication.h"
#include "ServerTestLine.h"
#include "platform/MainThread.h"

using namespace serialtest;

namespace {

constexpr std::uint8_t SlaveAddress = 1;

// A peer program's run; Output is its standard output, then its standard error.
struct TPeerResult : TProgramResult {
  std::string Output;
};

// Runs a peer program to its end while this thread keeps serving the library's
// main-thread calls (the slave answers through them).
TPeerResult RunPeer(const std::vector<std::string>& Argv) {
  TRunSettings Settings;
  Settings.limit = std::chrono::seconds(20);
  Settings.cLocale = false;
  Settings.whileWaiting = [] { DefaultMainThread().ProcessMessages(); };
  TPeerResult Result{RunProgram(Argv, ".", Settings), {}};
  Result.Output = Result.out + Result.err;
  return Result;
}

class ServerInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Connection.SetPort(Bridge.PathA());
    Connection.SetConnectionMode(cmServer);
    Connection.SetBaudRate(br115200);
    Connection.SetParity(psNone);
    Connection.OnInvalidFrameDiscard = [this](TModbusConnection&) { ++InvalidFrames; };
    Server.SetAddress(SlaveAddress);
    Server.SetConnection(&Connection);
    App.Attach(Server);
    App.RefusedCommands = {};
    App.UnreadableItems = {1000};
    App.WriteRefusals = {{1000, iwsIllegalAddress}};
  }
  void TearDown() override { Connection.Close(); }

  // Opens the slave and waits until its loop listens, probing from the far end of the bridge.
  void OpenSlave(TTransmissionMode Mode) {
    Connection.SetTransmissionMode(Mode);
    Connection.Open();
    const int Far = ::open(Bridge.PathB().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(Far, 0);
    bool Listening = false;
    for (int Attempt = 0; Attempt < 20 && !Listening; ++Attempt) {
      const int Before = InvalidFrames;
      ASSERT_EQ(::write(Far, ":\r\n", 3), 3);
      Listening = PumpUntil([&] { return InvalidFrames > Before; }, 300);
    }
    ::close(Far);
    ASSERT_TRUE(Listening) << "the slave loop never reported the probe frame";
  }

  serialtest::TPtyBridge Bridge;
  TModbusConnection Connection;
  TModbusServer Server;
  TFakeApplication App;
  std::atomic<int> InvalidFrames{0};
};

// ---- mbpoll ----------------------------------------------------------------------------

class MbpollTest : public ServerInteropTest {
 protected:
  void SetUp() override {
    KQ_REQUIRE_PEER(OnPath("mbpoll"), "mbpoll", "mbpoll");
    ServerInteropTest::SetUp();
    OpenSlave(tmRTU);
  }

  // Runs mbpoll once against the slave with PDU addressing (-0).
  TPeerResult Mbpoll(const std::vector<std::string>& Options,
                     const std::vector<std::string>& Values = {}) {
    std::vector<std::string> Argv{"mbpoll", "-m", "rtu", "-b", "115200", "-P", "none",
                                  "-a",     "1",  "-0",  "-1", "-o",     "2"};
    Argv.insert(Argv.end(), Options.begin(), Options.end());
    Argv.push_back(Bridge.PathB());
    Argv.insert(Argv.end(), Values.begin(), Values.end());
    TPeerResult Result = RunPeer(Argv);
    EXPECT_TRUE(Result.started);
    EXPECT_FALSE(Result.timedOut) << Result.Output;
    return Result;
  }
};

// mbpoll prints one "[reference]: value" line per item read.
std::map<int, std::string> ReadValues(const std::string& Output) {
  std::map<int, std::string> Values;
  std::istringstream Lines(Output);
  std::string Line;
  while (std::getline(Lines, Line)) {
    if (Line.empty() || Line[0] != '[') continue;
    const std::size_t Close = Line.find("]:");
    if (Close == std::string::npos) continue;
    std::string Value = Line.substr(Close + 2);
    Value.erase(0, Value.find_first_not_of(" \t"));
    Value.erase(Value.find_last_not_of(" \t\r") + 1);
    Values[std::stoi(Line.substr(1, Close - 1))] = Value;
  }
  return Values;
}

TEST_F(MbpollTest, ReadsAllFourTables) {
  auto Result = Mbpoll({"-t", "4:hex", "-r", "100", "-c", "3"});
  EXPECT_EQ(ReadValues(Result.Output),
            (std::map<int, std::string>{{100, "0x1064"}, {101, "0x1065"}, {102, "0x1066"}}))
      << Result.Output;
  Result = Mbpoll({"-t", "3:hex", "-r", "7", "-c", "2"});
  EXPECT_EQ(ReadValues(Result.Output), (std::map<int, std::string>{{7, "0x8007"}, {8, "0x8008"}}))
      << Result.Output;
  Result = Mbpoll({"-t", "0", "-r", "9", "-c", "4"});
  EXPECT_EQ(ReadValues(Result.Output),
            (std::map<int, std::string>{{9, "1"}, {10, "0"}, {11, "0"}, {12, "1"}}))
      << Result.Output;
  Result = Mbpoll({"-t", "1", "-r", "5", "-c", "3"});
  EXPECT_EQ(ReadValues(Result.Output), (std::map<int, std::string>{{5, "0"}, {6, "1"}, {7, "0"}}))
      << Result.Output;
  Result = Mbpoll({"-t", "4", "-r", "0", "-c", "125"});
  EXPECT_EQ(ReadValues(Result.Output).size(), 125u) << Result.Output;
}

TEST_F(MbpollTest, SingleAndMultipleWrites) {
  Mbpoll({"-t", "4", "-r", "30"}, {"4660"});
  Mbpoll({"-t", "4", "-r", "40"}, {"1", "2", "3"});
  Mbpoll({"-t", "0", "-r", "20"}, {"0"});
  Mbpoll({"-t", "0", "-r", "21"}, {"1", "1", "0"});
  EXPECT_EQ(App.Holding[30], 4660);
  EXPECT_EQ(App.Holding[40], 1);
  EXPECT_EQ(App.Holding[41], 2);
  EXPECT_EQ(App.Holding[42], 3);
  EXPECT_FALSE(App.Coils[20]);
  EXPECT_TRUE(App.Coils[21]);
  EXPECT_TRUE(App.Coils[22]);
  EXPECT_FALSE(App.Coils[23]);
  EXPECT_EQ(App.RegisterWrites.size(), 4u);
  EXPECT_EQ(App.CoilWrites.size(), 4u);
}

TEST_F(MbpollTest, RefusedAddressGivesIllegalDataAddress) {
  auto Result = Mbpoll({"-t", "4", "-r", "1000", "-c", "1"});
  EXPECT_NE(Result.Output.find("Illegal data address"), std::string::npos) << Result.Output;
  Result = Mbpoll({"-t", "4", "-r", "1000"}, {"5"});
  EXPECT_NE(Result.Output.find("Illegal data address"), std::string::npos) << Result.Output;
  EXPECT_TRUE(App.RegisterWrites.empty());
}

// ---- pymodbus -----------------------------------------------------------------------------

class PymodbusTest : public ServerInteropTest,
                     public ::testing::WithParamInterface<TTransmissionMode> {
 protected:
  void SetUp() override {
    KQ_REQUIRE_PEER(kq_peer::PythonImports(PYTHON3, "pymodbus.client, serial"),
                    "pymodbus serial client", "python3-pymodbus python3-serial");
    ServerInteropTest::SetUp();
    OpenSlave(GetParam());
  }
};

TEST_P(PymodbusTest, EveryCommandRoundTrips) {
  const auto Result = RunPeer({PYTHON3, PYMODBUS_CLIENT, "--framer",
                               GetParam() == tmRTU ? "rtu" : "ascii", Bridge.PathB()});
  ASSERT_EQ(Result.exitStatus, 0) << Result.Output;
  std::map<std::string, std::string> Lines;
  std::istringstream Stream(Result.Output);
  std::string Line;
  while (std::getline(Stream, Line)) {
    const std::size_t Colon = Line.find(": ");
    if (Colon != std::string::npos) Lines[Line.substr(0, Colon)] = Line.substr(Colon + 2);
  }
  // Reads come from the fake application's tables; bit replies are padded to whole bytes.
  EXPECT_EQ(Lines["read_coils"], "0010010010010000") << Result.Output;
  EXPECT_EQ(Lines["read_discrete_inputs"], "0100001000010000") << Result.Output;
  EXPECT_EQ(Lines["read_holding_registers"], "1064,1065,1066,1067,1068") << Result.Output;
  EXPECT_EQ(Lines["read_input_registers"], "80C8,80C9,80CA") << Result.Output;
  EXPECT_EQ(Lines["write_coil"], "20,True") << Result.Output;
  EXPECT_EQ(Lines["write_register"], "30,48879") << Result.Output;
  EXPECT_EQ(Lines["write_coils"], "40,3") << Result.Output;
  EXPECT_EQ(Lines["write_registers"], "50,3") << Result.Output;
  EXPECT_EQ(Lines["read_back"], "0001,0002,0003") << Result.Output;
  EXPECT_EQ(Lines["refused_read"], "exception 2") << Result.Output;
  EXPECT_EQ(Lines["refused_command"], "exception 1") << Result.Output;
  EXPECT_TRUE(App.Coils[20]);
  EXPECT_EQ(App.Holding[30], 0xBEEF);
  EXPECT_TRUE(App.Coils[40]);
  EXPECT_FALSE(App.Coils[41]);
  EXPECT_TRUE(App.Coils[42]);
}

INSTANTIATE_TEST_SUITE_P(Modes, PymodbusTest, ::testing::Values(tmRTU, tmASCII),
                         [](const auto& Info) { return Info.param == tmRTU ? "RTU" : "ASCII"; });

// ---- our own client ---------------------------------------------------------------------

class OwnClientTest : public ServerInteropTest,
                      public ::testing::WithParamInterface<TTransmissionMode> {
 protected:
  void SetUp() override {
    ServerInteropTest::SetUp();
    OpenSlave(GetParam());
    Master.SetPort(Bridge.PathB());
    Master.SetBaudRate(br115200);
    Master.SetParity(psNone);
    Master.SetTransmissionMode(GetParam());
    Master.SetReceiveTimeout(2000);
    Client.SetServerAddress(SlaveAddress);
    Client.SetConnection(&Master);
    Client.OnTransactionProcessed = [this](TModbusClient&, const TTransactionInfo& Info,
                                           std::uint8_t, bool) {
      Replies.push_back(Info.Reply);
      Exceptions.push_back(Info.ExceptionCode);
    };
    Master.Open();
  }
  void TearDown() override {
    Master.Close();
    ServerInteropTest::TearDown();
  }

  // Queues one request and serves both connections until it has been reported.
  void Await(const std::function<void()>& Request) {
    const std::size_t Before = Replies.size();
    Request();
    ASSERT_TRUE(PumpUntil([&] { return Replies.size() > Before; }, 10000));
  }

  TModbusConnection Master;
  TModbusClient Client;
  std::vector<TServerReply> Replies;
  std::vector<std::uint8_t> Exceptions;
};

TEST_P(OwnClientTest, AllEightCommands) {
  TBitValues Bits;
  TRegValues Registers;
  Client.OnCoilsRead = [&](TModbusClient&, const TTransactionInfo&, std::uint16_t, std::uint16_t,
                           const TBitValues& Values) { Bits = Values; };
  Client.OnDiscreteInputsRead = Client.OnCoilsRead;
  Client.OnHoldingRegistersRead = [&](TModbusClient&, const TTransactionInfo&, std::uint16_t,
                                      std::uint16_t,
                                      const TRegValues& Values) { Registers = Values; };
  Client.OnInputRegistersRead = Client.OnHoldingRegistersRead;

  Await([&] { Client.ReadCoils(9, 4); });
  EXPECT_EQ(Bits, (TBitValues{true, false, false, true}));
  Await([&] { Client.ReadDiscreteInputs(5, 3); });
  EXPECT_EQ(Bits, (TBitValues{false, true, false}));
  Await([&] { Client.ReadHoldingRegisters(65411, 125); });
  ASSERT_EQ(Registers.size(), 125u);
  EXPECT_EQ(Registers.back(), static_cast<std::uint16_t>(0x1000 + 65535));
  Await([&] { Client.ReadInputRegisters(7, 2); });
  EXPECT_EQ(Registers, (TRegValues{0x8007, 0x8008}));
  Await([&] { Client.WriteSingleCoil(20, true); });
  Await([&] { Client.WriteSingleRegister(30, 0xCAFE); });
  Await([&] { Client.WriteMultipleCoils(2000, TBitValues(1976, true)); });
  Await([&] { Client.WriteMultipleRegisters(60, TRegValues{7, 8, 9}); });
  for (std::size_t I = 0; I < Replies.size(); ++I)
    EXPECT_EQ(int(Replies[I]), int(srNormalReply))
        << "request " << I << ", exception " << int(Exceptions[I]);

  EXPECT_TRUE(App.Coils[20]);
  EXPECT_EQ(App.Holding[30], 0xCAFE);
  EXPECT_TRUE(App.Coils[2000 + 1975]);
  EXPECT_EQ(App.Holding[62], 9);

  Await([&] { Client.ReadHoldingRegisters(999, 2); });
  EXPECT_EQ(Replies.back(), srExceptionReply);
  EXPECT_EQ(Exceptions.back(), 2);
  Await([&] { Client.ReadExceptionStatus(); });
  EXPECT_EQ(Replies.back(), srExceptionReply);
  EXPECT_EQ(Exceptions.back(), 1);
}

TEST_P(OwnClientTest, BroadcastWritesReachTheSlaveUnanswered) {
  App.RegisterWrites.clear();
  Master.WriteMultipleRegisters(70, {0x1111, 0x2222});
  ASSERT_TRUE(PumpUntil([&] { return App.RegisterWrites.size() == 2; }, 10000));
  EXPECT_EQ(App.Holding[71], 0x2222);
  // The next request is answered normally: the broadcast left nothing on the line.
  Await([&] { Client.ReadHoldingRegisters(70, 2); });
  EXPECT_EQ(Replies.back(), srNormalReply);
}

INSTANTIATE_TEST_SUITE_P(Modes, OwnClientTest, ::testing::Values(tmRTU, tmASCII),
                         [](const auto& Info) { return Info.param == tmRTU ? "RTU" : "ASCII"; });

}  // namespace
