// The serial line's frames over TCP against independent peers, in RTU and in ASCII:
// pymodbus's TCP client with its serial framer reads kq517sim --rtu-over-tcp, and the serial
// library reads the simulator's pseudo-terminal through socat, which joins a TCP port to it
// as a transparent serial device server does, and reads --rtu-over-tcp itself. Every path
// must give the registers that pymodbus reads over the simulator's Modbus TCP port.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ChildProgram.h"
#include "LoopbackPorts.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "RequirePeer.h"
#include "platform/MainThread.h"

namespace {

using namespace std::chrono_literals;

const std::string SIM = KQ517SIM;
constexpr char SOCAT[] = "/usr/bin/socat";
constexpr int FIRST = 0, COUNT = 60;  // meter 1, the 64-bit layout

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// COUNT registers from FIRST read by pymodbus with `framing` (socket, rtu or ascii).
std::string PymodbusRead(const std::string& port, const std::string& framing) {
  const TProgramResult r = RunProgram({PYTHON3, PYMODBUS_CLIENT, "--framer", framing, port,
                                       std::to_string(FIRST), std::to_string(COUNT)},
                                      ".");
  EXPECT_EQ(r.exitStatus, 0) << framing << ": " << r.err;
  return Trimmed(r.out);
}

// The same registers read by the serial library on `port`, once it accepts connections.
std::string LibraryRead(const std::string& port, TTransmissionMode mode) {
  TModbusConnection connection;
  TModbusClient client;
  connection.SetPort(port);
  connection.SetTransmissionMode(mode);
  connection.SetReceiveTimeout(3000);
  client.SetConnection(&connection);
  client.SetServerAddress(1);
  std::optional<std::string> values;
  client.OnHoldingRegistersRead = [&](auto&, const TTransactionInfo& info, auto, auto,
                                      const TRegValues& v) {
    std::string text = info.Reply == srNormalReply ? "" : "reply " + std::to_string(info.Reply);
    for (std::size_t i = 0; i < v.size(); ++i) text += (i ? "," : "") + std::to_string(v[i]);
    values = text;
  };
  for (int tries = 1;; ++tries) {
    try {
      connection.Open();
      break;
    } catch (const std::system_error& e) {
      if (tries == 100) return e.what();
      std::this_thread::sleep_for(100ms);  // the peer may still be starting
    }
  }
  client.ReadHoldingRegisters(FIRST, COUNT);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!values && std::chrono::steady_clock::now() < deadline)
    DefaultMainThread().ProcessMessagesUntil([&] { return values.has_value(); }, 20ms);
  connection.Close();
  DefaultMainThread().ProcessMessages();
  return values.value_or("no reply");
}

class RtuOverTcpInterop : public ::testing::TestWithParam<TTransmissionMode> {
 protected:
  void SetUp() override {
    KQ_REQUIRE_PEER(kq_peer::PythonImports(PYTHON3, "pymodbus.client"), "pymodbus",
                    "python3-pymodbus");
    const std::string mode = GetParam() == tmRTU ? "rtu" : "ascii";
    sim = std::make_unique<TServerProgram>(
        std::vector<std::string>{SIM, "--tcp", "127.0.0.1:0", "--rtu-over-tcp", "127.0.0.1:0",
                                 "--mode", mode, "--clock", "2026-12-08T10:20:30"},
        std::filesystem::path(SIM).parent_path());
    tcpPort = sim->WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
    const std::string framing = GetParam() == tmRTU ? "RTU" : "ASCII";
    const std::string overTcp =
        sim->WaitForLine("kq517sim: Modbus " + framing + " over TCP on 127.0.0.1:");
    linePort = overTcp.substr(0, overTcp.find(' '));
    const std::string line = sim->WaitForLine("kq517sim: Modbus " + framing + " on ");
    ptyPath = line.substr(0, line.find(' '));
    ASSERT_FALSE(tcpPort.empty() || linePort.empty() || ptyPath.empty())
        << "the simulator did not start";
    overModbusTcp = PymodbusRead(tcpPort, "socket");
    ASSERT_EQ(std::count(overModbusTcp.begin(), overModbusTcp.end(), ','), COUNT - 1);
  }

  std::unique_ptr<TServerProgram> sim;
  std::string tcpPort, linePort, ptyPath, overModbusTcp;
};

TEST_P(RtuOverTcpInterop, PymodbusAndTheLibraryReadTheSimulatorsOwnPort) {
  EXPECT_EQ(PymodbusRead(linePort, GetParam() == tmRTU ? "rtu" : "ascii"), overModbusTcp);
  EXPECT_EQ(LibraryRead("tcp://127.0.0.1:" + linePort, GetParam()), overModbusTcp);
}

TEST_P(RtuOverTcpInterop, TheLibraryReadsThePseudoTerminalThroughSocat) {
  KQ_REQUIRE_PEER(kq_peer::ProgramExists(SOCAT), "socat", "socat");
  const std::string port = std::to_string(FreePort());
  TServerProgram socat({SOCAT, "TCP-LISTEN:" + port + ",bind=127.0.0.1,reuseaddr",
                        "FILE:" + ptyPath + ",raw,echo=0"},
                       ".");
  EXPECT_EQ(LibraryRead("tcp://127.0.0.1:" + port, GetParam()), overModbusTcp);
}

INSTANTIATE_TEST_SUITE_P(RtuAndAscii, RtuOverTcpInterop, ::testing::Values(tmRTU, tmASCII),
                         [](const auto& Row) { return Row.param == tmRTU ? "Rtu" : "Ascii"; });

}  // namespace
