// Every request method of the Modbus TCP client against two independent
// servers on loopback: pymodbus and a libmodbus server of the test tree.
// Both serve the same data (see libmodbus_server.cpp).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ChildProgram.h"
#include "IdModBusClient.h"
#include "LoopbackPorts.h"
#include "RequirePeer.h"

using namespace std::chrono_literals;

namespace {

struct PeerKind {
  std::string Name;
};

void PrintTo(const PeerKind& Kind, std::ostream* Out) {
  *Out << Kind.Name;
}

class RoundTrip : public testing::TestWithParam<PeerKind> {
 protected:
  void SetUp() override {
    std::vector<std::string>& argv = Argv;
    if (GetParam().Name == "pymodbus") {
      KQ_REQUIRE_PEER(kq_peer::PythonImports(PYTHON3, "pymodbus.server"), "pymodbus server",
                      "python3-pymodbus python3-serial-asyncio");
      argv = {PYTHON3, PYMODBUS_SERVER, "--data", "libmodbus", "0"};
    } else {
      KQ_REQUIRE_PEER(!std::string(LIBMODBUS_SERVER).empty(), "libmodbus server",
                      "libmodbus-dev (then configure again)");
      argv = {LIBMODBUS_SERVER};
    }
    Peer = std::make_unique<TPeerProcess>(argv, 20s);
    ASSERT_NE(Peer->Port(), 0) << Peer->Failure();

    Client.SetHost("127.0.0.1");
    Client.SetPort(Peer->Port());
    Client.SetBaseRegister(0);
    Client.SetUnitID(1);
    Client.SetTimeOut(5000);
    Client.SetReadTimeout(100);
    Client.SetAutoConnect(false);
    Client.OnResponseError = [this](uint8_t Function, uint8_t Code, const TModBusResponseBuffer&) {
      Errors.emplace_back(Function, Code);
    };
    Client.Connect();
  }

  std::vector<std::string> Argv;
  std::unique_ptr<TPeerProcess> Peer;
  TIdModBusClient Client;
  std::vector<std::pair<uint8_t, uint8_t>> Errors;
};

}  // namespace

TEST_P(RoundTrip, Registers) {
  EXPECT_TRUE(Client.WriteRegister(10, 0xBEEF));
  EXPECT_TRUE(Client.WriteRegisters(11, {1, 2, 0xFFFF}));
  std::vector<uint16_t> values;
  EXPECT_TRUE(Client.ReadHoldingRegisters(9, 5, values));
  EXPECT_EQ(values, (std::vector<uint16_t>{9, 0xBEEF, 1, 2, 0xFFFF}));
  uint16_t one = 0;
  EXPECT_TRUE(Client.ReadHoldingRegister(100, one));
  EXPECT_EQ(one, 100);

  // The largest read, 125 registers.
  EXPECT_TRUE(Client.ReadHoldingRegisters(500, 125, values));
  ASSERT_EQ(values.size(), 125u);
  EXPECT_EQ(values[0], 500);
  EXPECT_EQ(values[124], 624);

  std::vector<uint16_t> inputs;
  EXPECT_TRUE(Client.ReadInputRegisters(3, 4, inputs));
  EXPECT_EQ(inputs, (std::vector<uint16_t>{21, 28, 35, 42}));
  EXPECT_TRUE(Client.ReadInputRegister(999, one));
  EXPECT_EQ(one, 6993);
  EXPECT_TRUE(Errors.empty());
}

TEST_P(RoundTrip, CoilsAndDiscreteInputs) {
  const std::vector<bool> pattern{true, false, true, true, false, false, false, false, true, true};
  EXPECT_TRUE(Client.WriteCoils(20, 0, pattern));
  std::vector<bool> bits;
  EXPECT_TRUE(Client.ReadCoils(20, 10, bits));
  EXPECT_EQ(bits, pattern);

  EXPECT_TRUE(Client.WriteCoil(7, true));
  bool coil = false;
  EXPECT_TRUE(Client.ReadCoil(7, coil));
  EXPECT_TRUE(coil);
  EXPECT_TRUE(Client.WriteCoil(7, false));
  EXPECT_TRUE(Client.ReadCoil(7, coil));
  EXPECT_FALSE(coil);

  EXPECT_TRUE(Client.ReadInputBits(0, 250, bits));
  ASSERT_EQ(bits.size(), 250u);
  for (std::size_t i = 0; i < bits.size(); ++i) EXPECT_EQ(bits[i], i % 3 == 0) << "input " << i;
  EXPECT_TRUE(Errors.empty());
}

TEST_P(RoundTrip, TypedValues) {
  EXPECT_TRUE(Client.WriteDWord(200, 305419896));
  uint32_t dword = 0;
  EXPECT_TRUE(Client.ReadDWord(200, dword));
  EXPECT_EQ(dword, 305419896u);
  std::vector<uint16_t> raw;
  EXPECT_TRUE(Client.ReadHoldingRegisters(200, 2, raw));
  EXPECT_EQ(raw, (std::vector<uint16_t>{0x1234, 0x5678}));  // high word first

  EXPECT_TRUE(Client.WriteSingle(210, 1.0f));
  float single = 0;
  EXPECT_TRUE(Client.ReadSingle(210, single));
  EXPECT_EQ(single, 1.0f);
  EXPECT_TRUE(Client.ReadHoldingRegisters(210, 2, raw));
  EXPECT_EQ(raw, (std::vector<uint16_t>{0x0000, 0x3F80}));  // low word first

  EXPECT_TRUE(Client.WriteDouble(220, -1234.5678));
  double dbl = 0;
  EXPECT_TRUE(Client.ReadDouble(220, dbl));
  EXPECT_EQ(dbl, -1234.5678);

  EXPECT_TRUE(Client.WriteString(230, "VIVAR517"));
  EXPECT_EQ(Client.ReadString(230, 8), "VIVAR517");
  EXPECT_EQ(Client.ReadString(230, 3), "VIV");
  EXPECT_TRUE(Errors.empty());
}

TEST_P(RoundTrip, IllegalAddressRaisesOnResponseErrorWithCode2) {
  std::vector<uint16_t> values(2, 0xEEEE);
  EXPECT_FALSE(Client.ReadHoldingRegisters(1500, 2, values));
  EXPECT_EQ(values, std::vector<uint16_t>(2, 0));
  EXPECT_FALSE(Client.WriteRegister(5000, 1));
  ASSERT_EQ(Errors.size(), 2u);
  EXPECT_EQ(Errors[0], (std::pair<uint8_t, uint8_t>{3, 2}));
  EXPECT_EQ(Errors[1], (std::pair<uint8_t, uint8_t>{6, 2}));
  // The connection goes on serving.
  uint16_t one = 0;
  EXPECT_TRUE(Client.ReadHoldingRegister(1, one));
  EXPECT_EQ(one, 1);
}

TEST_P(RoundTrip, AutoConnectUsesAFreshConnectionPerRequest) {
  Client.Disconnect();
  Client.SetAutoConnect(true);
  for (uint16_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(
        Client.WriteRegister(static_cast<uint16_t>(300 + i), static_cast<uint16_t>(i * 11)));
    EXPECT_FALSE(Client.Connected());
  }
  std::vector<uint16_t> values;
  EXPECT_TRUE(Client.ReadHoldingRegisters(300, 5, values));
  EXPECT_EQ(values, (std::vector<uint16_t>{0, 11, 22, 33, 44}));
}

// A test process that crashes or is killed must not leave its server running:
// the server ends with the process that started it.
TEST_P(RoundTrip, PeerEndsWithTheProcessThatStartedIt) {
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);
  const pid_t starter = ::fork();
  ASSERT_GE(starter, 0);
  if (starter == 0) {
    TPeerProcess peer(Argv, 20s);
    const int32_t started[2] = {peer.Port(), peer.Pid()};
    const bool told = ::write(channel[1], started, sizeof(started)) == sizeof(started);
    ::_exit(told ? 0 : 1);  // no destructor runs, as after a crash
  }
  ::close(channel[1]);
  int32_t started[2] = {0, -1};
  const bool told = ::read(channel[0], started, sizeof(started)) == sizeof(started);
  ::close(channel[0]);
  ::waitpid(starter, nullptr, 0);
  ASSERT_TRUE(told && started[0] > 0) << "the starter process could not start " << Argv[0];

  const auto port = static_cast<uint16_t>(started[0]);
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {
    ended = !Accepting(port);
    if (!ended) ::usleep(50'000);
  }
  if (!ended) ::kill(started[1], SIGTERM);  // tidy up after the failure
  EXPECT_TRUE(ended) << Argv[0] << " still serves port " << port << " after its starter ended";
}

INSTANTIATE_TEST_SUITE_P(Peers, RoundTrip,
                         testing::Values(PeerKind{"pymodbus"}, PeerKind{"libmodbus"}),
                         [](const auto& Info) { return Info.param.Name; });
