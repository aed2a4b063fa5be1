// kq517poll reaching a meter behind a serial device server: kq517sim's own
// RTU or ASCII frames over TCP (--rtu-over-tcp), its pseudo-terminal joined
// to a TCP port by socat (what a transparent server does), and the
// pseudo-terminal itself with the line settings of an ASCII meter. Every path
// must print what the Modbus TCP poll of the same simulator prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ChildProgram.h"
#include "LoopbackPorts.h"
#include "RequirePeer.h"

namespace {

const std::string SIM = KQ517SIM;
const std::string POLL = KQ517POLL;
constexpr char SOCAT[] = "/usr/bin/socat";

std::string FolderOf(const std::string& program) {
  return std::filesystem::path(program).parent_path();
}

enum class EPath { pTcpStream, pSocat, pPty };

struct TServerRow {
  const char* name;
  const char* mode;  // rtu or ascii
  EPath path;
  const char* function;
  std::vector<std::string> line;  // line settings of both ends
};

void PrintTo(const TServerRow& Row, std::ostream* Out) {
  *Out << Row.name;
}

class PollThroughSerialServer : public ::testing::TestWithParam<TServerRow> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(POLL.empty()) << "kq517poll was not built";
    const TServerRow& row = GetParam();
    std::vector<std::string> argv{
        SIM,      "--tcp",  "127.0.0.1:0", "--rtu-over-tcp",     "127.0.0.1:0",
        "--mode", row.mode, "--clock",     "2026-12-08T10:20:30"};
    argv.insert(argv.end(), row.line.begin(), row.line.end());
    sim = std::make_unique<TServerProgram>(argv, FolderOf(SIM));
    tcpPort = sim->WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
    const std::string framing = std::string(row.mode) == "rtu" ? "RTU" : "ASCII";
    const std::string overTcp =
        sim->WaitForLine("kq517sim: Modbus " + framing + " over TCP on 127.0.0.1:");
    streamPort = overTcp.substr(0, overTcp.find(' '));
    const std::string line = sim->WaitForLine("kq517sim: Modbus " + framing + " on ");
    ptyPath = line.substr(0, line.find(' '));
    ASSERT_FALSE(tcpPort.empty() || streamPort.empty() || ptyPath.empty())
        << "the simulator did not start";
  }

  // A CSV poll of the whole map with the row's function code.
  TProgramResult Poll(std::vector<std::string> device) {
    std::vector<std::string> argv{POLL};
    argv.insert(argv.end(), device.begin(), device.end());
    argv.insert(argv.end(), {"--format", "csv", "--function", GetParam().function});
    return RunProgram(argv, FolderOf(POLL));
  }

  std::unique_ptr<TServerProgram> sim;
  std::string tcpPort, streamPort, ptyPath;
};

TEST_P(PollThroughSerialServer, PrintsWhatTheModbusTcpPollPrints) {
  const TServerRow& row = GetParam();
  const TProgramResult overModbusTcp = Poll({"--tcp", "127.0.0.1:" + tcpPort});
  ASSERT_EQ(overModbusTcp.exitStatus, 0) << overModbusTcp.err;
  ASSERT_NE(overModbusTcp.out.find("\n0,INT16,,103,"), std::string::npos) << overModbusTcp.out;

  std::unique_ptr<TServerProgram> socat;
  std::string port = ptyPath;
  if (row.path == EPath::pTcpStream) port = "tcp://127.0.0.1:" + streamPort;
  if (row.path == EPath::pSocat) {
    KQ_REQUIRE_PEER(kq_peer::ProgramExists(SOCAT), "socat", "socat");
    const std::string listen = std::to_string(FreePort());
    socat = std::make_unique<TServerProgram>(
        std::vector<std::string>{SOCAT, "-d", "-d",
                                 "TCP-LISTEN:" + listen + ",bind=127.0.0.1,reuseaddr,fork",
                                 "FILE:" + ptyPath + ",raw,echo=0"},
        ".");
    ASSERT_TRUE(socat->WaitForErrorText("listening on")) << "socat did not start";
    port = "tcp://127.0.0.1:" + listen;
  }
  std::vector<std::string> device{"--serial", port, "--mode", row.mode, "--connect-timeout", "2"};
  if (row.path == EPath::pPty) device.resize(4);  // a connect time-out needs a connection
  device.insert(device.end(), row.line.begin(), row.line.end());
  const TProgramResult overLine = Poll(device);
  ASSERT_EQ(overLine.exitStatus, 0) << overLine.err;
  EXPECT_EQ(overLine.out, overModbusTcp.out);
}

const TServerRow ROWS[] = {
    {"RtuOverTheSimulatorsStream", "rtu", EPath::pTcpStream, "3", {}},
    {"AsciiOverTheSimulatorsStreamWithFunction4", "ascii", EPath::pTcpStream, "4", {}},
    {"RtuThroughSocatWithFunction4", "rtu", EPath::pSocat, "4", {}},
    {"AsciiThroughSocat", "ascii", EPath::pSocat, "3", {}},
    {"Ascii7E2OnThePseudoTerminalWithFunction4",
     "ascii",
     EPath::pPty,
     "4",
     {"--data-bits", "7", "--parity", "even", "--stop-bits", "2"}},
};

INSTANTIATE_TEST_SUITE_P(Paths, PollThroughSerialServer, ::testing::ValuesIn(ROWS),
                         [](const auto& Row) { return std::string(Row.param.name); });

// Behind a server the bit rate and parity are its own: each address is tried once.
TEST(ScanThroughSerialServer, TriesEachAddressOnce) {
  ASSERT_FALSE(POLL.empty()) << "kq517poll was not built";
  TServerProgram sim({SIM, "--no-tcp", "--rtu-over-tcp", "127.0.0.1:0", "--mode", "ascii"},
                     FolderOf(SIM));
  const std::string overTcp = sim.WaitForLine("kq517sim: Modbus ASCII over TCP on 127.0.0.1:");
  ASSERT_FALSE(overTcp.empty()) << "the simulator did not start";
  const std::string port = "tcp://127.0.0.1:" + overTcp.substr(0, overTcp.find(' '));
  const TProgramResult scan =
      RunProgram({POLL, "--scan-serial", port, "--slaves", "1-3", "--mode", "ascii"}, ".");
  EXPECT_EQ(scan.exitStatus, 0) << scan.err;
  EXPECT_EQ(scan.out, "found: slave 1, firmware 103\n");
  EXPECT_NE(scan.err.find("scan done, 3 tries; 1 found"), std::string::npos) << scan.err;
}

}  // namespace
