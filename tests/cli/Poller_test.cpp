// kq517poll run as a program against the scripted loopback server.
#include "ChildProcess.h"
#include "LoopbackModbusServer.h"
#include "ScriptedTcpServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

using TReply = TLoopbackModbusServer::TReply;
using TAction = TLoopbackModbusServer::TAction;

// Firmware word 263, a float 2.5 and an integer 305419896, registers 0 to 4,
// in the default byte sequence (first register = least significant word).
constexpr char MAP[] = "1-0:32.7.0|f|Tensione, L1\n1-0:1.8.0|I|Energia\n";
constexpr char CSV_HEADER[] = "Indirizzo,Tipo,OBIS,Valore,Valore Registri,Descrizione\r\n";
constexpr char CSV_ROWS[] =
    "0,INT16,,263,0701,Versione Firmware VIVAR517\r\n"
    "1,FLOAT32,1-0:32.7.0,2.5,20400000,\"Tensione, L1\"\r\n"
    "3,INT32,1-0:1.8.0,305419896,34127856,Energia\r\n";

class PollerTest : public ::testing::Test {
protected:
  PollerTest() {
    setenv("LC_ALL", "C", 1);  // "." as decimal separator in the child
    char folder[] = "/tmp/kq517poll_test_XXXXXX";
    FFolder = mkdtemp(folder);
    WriteMap("map.cfg", MAP);
    const uint16_t registers[] = {0x0107, 0x0000, 0x4020, 0x5678, 0x1234};
    for (uint16_t i = 0; i < 5; ++i) Server.SetRegister(i, registers[i]);
  }
  ~PollerTest() override { std::filesystem::remove_all(FFolder); }

  void WriteMap(const std::string& Name, const std::string& Text) {
    std::ofstream(FFolder + "/" + Name, std::ios::binary) << Text;
  }
  TChildResult Poll(const std::vector<std::string>& Arguments) {
    std::vector<std::string> command(1, KQ517POLL_PATH);
    for (const std::string& argument : Arguments) command.push_back(argument);
    return RunChild(command, FFolder);
  }
  std::string Device() const { return "127.0.0.1:" + std::to_string(Server.Port()); }

  TLoopbackModbusServer Server;
  std::string FFolder;
};

TEST_F(PollerTest, CsvPrintsTheGridTextsOnceDecoded) {
  const auto run = Poll({"--tcp", Device(), "--format", "csv"});
  EXPECT_EQ(run.ExitStatus, 0) << run.Err;
  EXPECT_EQ(run.Out, std::string(CSV_HEADER) + CSV_ROWS);
  EXPECT_EQ(run.Err, "");
}

TEST_F(PollerTest, BracketedIpv6AddressIsPolledOverIpv6) {
  std::unique_ptr<TLoopbackModbusServer> server;
  try {
    server = std::make_unique<TLoopbackModbusServer>(AF_INET6);
  } catch (const std::exception&) {
    GTEST_SKIP() << "this machine has no IPv6 loopback address (::1)";
  }
  const uint16_t registers[] = {0x0107, 0x0000, 0x4020, 0x5678, 0x1234};
  for (uint16_t i = 0; i < 5; ++i) server->SetRegister(i, registers[i]);
  const auto run = Poll({"--tcp", "[::1]:" + std::to_string(server->Port()), "--format", "csv"});
  EXPECT_EQ(run.ExitStatus, 0) << run.Err;
  EXPECT_EQ(run.Out, std::string(CSV_HEADER) + CSV_ROWS);
}

TEST_F(PollerTest, JsonIsOneArrayOfObjectsPerCycle) {
  const auto run = Poll({"--tcp", Device(), "--format", "json"});
  EXPECT_EQ(run.ExitStatus, 0) << run.Err;
  EXPECT_EQ(run.Out,
            "[\n"
            " {\"address\": \"0\", \"type\": \"INT16\", \"obis\": \"\", \"value\": \"263\", "
            "\"raw\": \"0701\", \"description\": \"Versione Firmware VIVAR517\"},\n"
            " {\"address\": \"1\", \"type\": \"FLOAT32\", \"obis\": \"1-0:32.7.0\", \"value\": \"2.5\", "
            "\"raw\": \"20400000\", \"description\": \"Tensione, L1\"},\n"
            " {\"address\": \"3\", \"type\": \"INT32\", \"obis\": \"1-0:1.8.0\", \"value\": \"305419896\", "
            "\"raw\": \"34127856\", \"description\": \"Energia\"}\n"
            "]\n");
}

TEST_F(PollerTest, TableIsTheDefault) {
  const auto run = Poll({"--tcp", Device()});
  EXPECT_EQ(run.ExitStatus, 0) << run.Err;
  EXPECT_EQ(run.Out,
            "Indirizzo  Tipo     OBIS        Valore     Valore Registri  Descrizione\n"
            "        0  INT16                263        0701             Versione Firmware VIVAR517\n"
            "        1  FLOAT32  1-0:32.7.0  2.5        20400000         Tensione, L1\n"
            "        3  INT32    1-0:1.8.0   305419896  34127856         Energia\n");
}

TEST_F(PollerTest, CyclesRepeatAndLeaveOpenKeepsOneConnection) {
  auto run = Poll({"--tcp", Device(), "--format", "csv", "--count", "2", "--interval", "0"});
  EXPECT_EQ(run.ExitStatus, 0) << run.Err;
  EXPECT_EQ(run.Out, std::string(CSV_HEADER) + CSV_ROWS + CSV_ROWS);
  EXPECT_EQ(Server.Connections(), 2);

  run = Poll({"--tcp", Device(), "--format", "csv", "--count", "3", "--interval", "0.01", "--leave-open"});
  EXPECT_EQ(run.ExitStatus, 0) << run.Err;
  EXPECT_EQ(Server.Connections(), 3);
  EXPECT_EQ(Server.Requests().size(), 5u);
}

TEST_F(PollerTest, ExceptionReplyExitsWithOneButKeepsPolling) {
  Server.SetScript([](const auto&, int) { return TReply{TAction::Exception, 2}; });
  const auto run = Poll({"--tcp", Device(), "--format", "csv", "--count", "2", "--interval", "0"});
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_EQ(run.Err,
            "kq517poll: cycle 1 of 2: Eccezione Server: Indirizzo Illegale\n"
            "kq517poll: cycle 2 of 2: Eccezione Server: Indirizzo Illegale\n");
  EXPECT_EQ(Server.Requests().size(), 2u);
  // Nothing was ever decoded: the value cells are empty, as in the window.
  EXPECT_NE(run.Out.find("\r\n1,FLOAT32,1-0:32.7.0,,,\"Tensione, L1\"\r\n"), std::string::npos) << run.Out;
}

TEST_F(PollerTest, ConnectionErrorEndsThePollWithNotAvailableValues) {
  std::string device;
  {
    TLoopbackModbusServer gone;  // its port is closed again when the poll runs
    device = "127.0.0.1:" + std::to_string(gone.Port());
  }
  const auto run = Poll({"--tcp", device, "--format", "csv", "--count", "3", "--interval", "0"});
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_EQ(run.Err.rfind("kq517poll: cycle 1 of 3: ", 0), 0u) << run.Err;
  EXPECT_EQ(run.Out, std::string(CSV_HEADER) +
                         "0,INT16,,<N/A>,<N/A>,Versione Firmware VIVAR517\r\n"
                         "1,FLOAT32,1-0:32.7.0,<N/A>,<N/A>,\"Tensione, L1\"\r\n"
                         "3,INT32,1-0:1.8.0,<N/A>,<N/A>,Energia\r\n");
}

TEST_F(PollerTest, MapProblemsExitWithOne) {
  WriteMap("bad.cfg", "1-0:1.8.0|X|Energia\n");
  auto run = Poll({"--tcp", Device(), "--map", "bad.cfg"});
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_EQ(run.Err, "kq517poll: bad.cfg: File di configurazione non valido\n");

  run = Poll({"--tcp", Device(), "--qvzt"});  // no qvztmap.cfg in the folder
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_NE(run.Err.find("qvztmap.cfg"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(Server.Connections(), 0);
}

TEST_F(PollerTest, BadArgumentsExitWithTwoAndTheUsage) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"--tcp", Device(), "--format", "xml"}, {"--tcp", Device(), "--meter", "9"}}) {
    const auto run = Poll(arguments);
    EXPECT_EQ(run.ExitStatus, 2);
    EXPECT_NE(run.Err.find("Usage: kq517poll --tcp HOST[:PORT]"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
  }
  EXPECT_EQ(Server.Connections(), 0);

  const auto help = Poll({"--help"});
  EXPECT_EQ(help.ExitStatus, 0);
  EXPECT_NE(help.Out.find("Exit status"), std::string::npos);
}

}  // namespace

TEST(PollerShortReply, ReplyOneRegisterShortExitsWithOne) {
  TScriptedTcpServer server(TScriptedTcpServer::Always([](const TScriptedTcpServer::TFrame& Request) {
    const uint16_t count = static_cast<uint16_t>((Request[10] << 8) | Request[11]);
    return TScriptedTcpServer::RegistersReply(Request, std::vector<uint16_t>(count - 1, 7));
  }));
  char folder[] = "/tmp/kq517poll_short_XXXXXX";
  const std::string dir = mkdtemp(folder);
  std::ofstream(dir + "/map.cfg") << MAP;
  const auto run = RunChild({KQ517POLL_PATH, "--tcp", "127.0.0.1:" + std::to_string(server.Port()),
                             "--format", "csv"},
                            dir);
  std::filesystem::remove_all(dir);
  EXPECT_EQ(run.ExitStatus, 1) << run.Out;
  EXPECT_EQ(run.Err.rfind("kq517poll: cycle 1 of 1: ", 0), 0u) << run.Err;
}
