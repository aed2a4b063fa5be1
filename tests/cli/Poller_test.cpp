// kq517poll run as a program against the scripted loopback server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ChildProgram.h"
#include "LoopbackModbusServer.h"
#include "ScriptedTcpServer.h"

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
  TProgramResult Poll(const std::vector<std::string>& Arguments) {
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
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, std::string(CSV_HEADER) + CSV_ROWS);
  EXPECT_EQ(run.err, "");
}

TEST_F(PollerTest, BracketedIpv6AddressIsPolledOverIpv6) {
  // Listening on ::1 throws, failing the test, on a machine without an IPv6 loopback.
  const auto server = std::make_unique<TLoopbackModbusServer>(AF_INET6);
  const uint16_t registers[] = {0x0107, 0x0000, 0x4020, 0x5678, 0x1234};
  for (uint16_t i = 0; i < 5; ++i) server->SetRegister(i, registers[i]);
  const auto run = Poll({"--tcp", "[::1]:" + std::to_string(server->Port()), "--format", "csv"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, std::string(CSV_HEADER) + CSV_ROWS);
}

TEST_F(PollerTest, JsonIsOneDocumentForTheWholeRun) {
  const auto run = Poll({"--tcp", Device(), "--format", "json", "--count", "2", "--interval", "0"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  const auto cycles = nlohmann::json::parse(run.out);
  ASSERT_EQ(cycles.size(), 2u) << run.out;
  EXPECT_EQ(cycles[1]["cycle"], 2);
  const auto& rows = cycles[0]["rows"];
  EXPECT_EQ(rows[0]["value"], 263);
  EXPECT_EQ(rows[1]["value"], 2.5);
  EXPECT_EQ(rows[1]["raw"], "20400000");
  EXPECT_EQ(rows[2]["value"], 305419896);
  EXPECT_EQ(rows[2]["description"], "Energia");
}

// Machine formats carry '.' whatever the locale; the table follows the
// user's, as the window does.
TEST_F(PollerTest, OnlyTheTableUsesTheLocalesDecimalSeparator) {
  setenv("LC_ALL", "it_IT.UTF-8", 1);
  const std::pair<const char*, const char*> formats[] = {{"table", "  2,5  "},
                                                         {"csv", ",2.5,"},
                                                         {"jsonl", "\"value\":2.5,"},
                                                         {"json", "\"text\":\"2.5\""}};
  for (const auto& [format, expected] : formats) {
    const auto run = Poll({"--tcp", Device(), "--format", format});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find(expected), std::string::npos) << format << ":\n" << run.out;
  }
}

TEST_F(PollerTest, TableIsTheDefault) {
  const auto run = Poll({"--tcp", Device()});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(
      run.out,
      "Indirizzo  Tipo     OBIS        Valore     Valore Registri  Descrizione\n"
      "        0  INT16                263        0701             Versione Firmware VIVAR517\n"
      "        1  FLOAT32  1-0:32.7.0  2.5        20400000         Tensione, L1\n"
      "        3  INT32    1-0:1.8.0   305419896  34127856         Energia\n");
}

TEST_F(PollerTest, CyclesRepeatAndLeaveOpenKeepsOneConnection) {
  auto run = Poll({"--tcp", Device(), "--format", "csv", "--count", "2", "--interval", "0"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, std::string(CSV_HEADER) + CSV_ROWS + CSV_ROWS);
  EXPECT_EQ(Server.Connections(), 2);

  run = Poll(
      {"--tcp", Device(), "--format", "csv", "--count", "3", "--interval", "0.01", "--leave-open"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(Server.Connections(), 3);
  EXPECT_EQ(Server.Requests().size(), 5u);
}

TEST_F(PollerTest, ExceptionReplyExitsWithOneButKeepsPolling) {
  Server.SetScript([](const auto&, int) { return TReply{TAction::Exception, 2}; });
  const auto run = Poll({"--tcp", Device(), "--format", "csv", "--count", "2", "--interval", "0"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err,
            "kq517poll: cycle 1 of 2: Eccezione Server: Indirizzo Illegale\n"
            "kq517poll: cycle 2 of 2: Eccezione Server: Indirizzo Illegale\n");
  EXPECT_EQ(Server.Requests().size(), 2u);
  // Nothing came back: "<N/A>", as in the window.
  EXPECT_NE(run.out.find("\r\n1,FLOAT32,1-0:32.7.0,<N/A>,<N/A>,\"Tensione, L1\"\r\n"),
            std::string::npos)
      << run.out;
}

TEST_F(PollerTest, SwitchedOffMeterInstanceIsReportedNotDecoded) {
  Server.SetRegister(1000, 0xFFFF);  // the firmware word of instance 2
  const auto run = Poll({"--tcp", Device(), "--format", "csv", "--meter", "2"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err, "kq517poll: cycle 1 of 1: meter instance 2 not present\n");
  EXPECT_NE(run.out.find("\r\n1000,INT16,,<N/A>,FFFF,Versione Firmware VIVAR517\r\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\r\n1001,FLOAT32,1-0:32.7.0,<N/A>,00000000,"), std::string::npos)
      << run.out;
}

TEST_F(PollerTest, KeepGoingRunsEveryCycleAndReconnectsAfterALostConnection) {
  // The second request closes the kept-open connection.
  Server.SetScript(
      [](const auto&, int Index) { return TReply{Index == 1 ? TAction::Close : TAction::Answer}; });
  const auto run = Poll({"--tcp", Device(), "--format", "jsonl", "--count", "3", "--interval", "0",
                         "--leave-open", "--keep-going"});
  EXPECT_EQ(run.exitStatus, 1);
  std::istringstream lines(run.out);
  std::vector<bool> ok;
  for (std::string line; std::getline(lines, line);)
    ok.push_back(nlohmann::json::parse(line)["ok"]);
  EXPECT_EQ(ok, (std::vector<bool>{true, false, true})) << run.out << run.err;
  EXPECT_EQ(run.err.rfind("kq517poll: cycle 2 of 3: ", 0), 0u) << run.err;
}

TEST_F(PollerTest, ReplyTimeoutIsTheOnesGiven) {
  Server.SetScript([](const auto&, int) { return TReply{TAction::Silent}; });
  // Three silent cycles: within the limit with 0.2 s each, far beyond it with the default 15 s.
  const auto run = RunChild({KQ517POLL_PATH, "--tcp", Device(), "--timeout", "0.2", "--count", "3",
                             "--interval", "0", "--keep-going"},
                            FFolder, std::chrono::seconds(20));
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.err.find("cycle 3 of 3: Nessuna risposta dal dispositivo entro 0.2 s"),
            std::string::npos)
      << run.err;
}

TEST_F(PollerTest, LogAppendsCsvWithTimeStampsAndOneHeader) {
  for (int run = 0; run < 2; ++run) {
    const auto result = Poll({"--tcp", Device(), "--log", "poll.csv"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out.rfind("Indirizzo  Tipo", 0), 0u) << "standard output keeps its table";
  }
  std::ostringstream contents;
  contents << std::ifstream(FFolder + "/poll.csv", std::ios::binary).rdbuf();
  const std::string log = contents.str();
  EXPECT_EQ(log.rfind(std::string("Timestamp,Ciclo,") + CSV_HEADER, 0), 0u) << log;
  EXPECT_EQ(log.find("Timestamp", 1), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7) << log;
  EXPECT_NE(log.find(",1,3,INT32,1-0:1.8.0,305419896,"), std::string::npos) << log;

  const auto unwritable = Poll({"--tcp", Device(), "--log", FFolder + "/no/such/folder/poll.csv"});
  EXPECT_EQ(unwritable.exitStatus, 1);
  EXPECT_NE(unwritable.err.find("cannot open the log file"), std::string::npos) << unwritable.err;
}

TEST_F(PollerTest, ConnectionErrorEndsThePollWithNotAvailableValues) {
  std::string device;
  {
    TLoopbackModbusServer gone;  // its port is closed again when the poll runs
    device = "127.0.0.1:" + std::to_string(gone.Port());
  }
  const auto run = Poll({"--tcp", device, "--format", "csv", "--count", "3", "--interval", "0"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err.rfind("kq517poll: cycle 1 of 3: ", 0), 0u) << run.err;
  EXPECT_EQ(run.out, std::string(CSV_HEADER) +
                         "0,INT16,,<N/A>,<N/A>,Versione Firmware VIVAR517\r\n"
                         "1,FLOAT32,1-0:32.7.0,<N/A>,<N/A>,\"Tensione, L1\"\r\n"
                         "3,INT32,1-0:1.8.0,<N/A>,<N/A>,Energia\r\n");
}

TEST_F(PollerTest, MapProblemsExitWithOne) {
  WriteMap("bad.cfg", "1-0:1.8.0|X|Energia\n");
  auto run = Poll({"--tcp", Device(), "--map", "bad.cfg"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err,
            "kq517poll: bad.cfg: File di configurazione non valido: line 1: unknown type 'X'\n");

  run = Poll({"--tcp", Device(), "--qvzt", "--map", "qvztmap.cfg"});  // not in the folder
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.err.find("qvztmap.cfg"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Server.Connections(), 0);
}

TEST_F(PollerTest, BadArgumentsExitWithTwoAndTheUsage) {
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                    {"--tcp", Device(), "--format", "xml"},
                                                    {"--tcp", Device(), "--meter", "9"}}) {
    const auto run = Poll(arguments);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find("Usage: kq517poll --tcp HOST[:PORT]"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(Server.Connections(), 0);

  const auto help = Poll({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

}  // namespace

TEST(PollerShortReply, ReplyOneRegisterShortExitsWithOne) {
  TScriptedTcpServer server(
      TScriptedTcpServer::Always([](const TScriptedTcpServer::TFrame& Request) {
        const uint16_t count = static_cast<uint16_t>((Request[10] << 8) | Request[11]);
        return TScriptedTcpServer::RegistersReply(Request, std::vector<uint16_t>(count - 1, 7));
      }));
  char folder[] = "/tmp/kq517poll_short_XXXXXX";
  const std::string dir = mkdtemp(folder);
  std::ofstream(dir + "/map.cfg") << MAP;
  const auto run = RunChild(
      {KQ517POLL_PATH, "--tcp", "127.0.0.1:" + std::to_string(server.Port()), "--format", "csv"},
      dir);
  std::filesystem::remove_all(dir);
  EXPECT_EQ(run.exitStatus, 1) << run.out;
  EXPECT_EQ(run.err.rfind("kq517poll: cycle 1 of 1: ", 0), 0u) << run.err;
}

namespace {

// --trace writes every frame as it goes, --stats the counts at the end.
TEST_F(PollerTest, TraceAndStatsDescribeTheTrafficOnStandardError) {
  Server.SetScript([](const TLoopbackModbusServer::TRequest&, int Index) {
    return Index == 0 ? TReply{} : TReply{TAction::Exception, 2};
  });
  const auto run = Poll({"--tcp", Device(), "--count", "2", "--interval", "0", "--keep-going",
                         "--format", "csv", "--trace", "--stats"});
  EXPECT_EQ(run.exitStatus, 1) << run.err;
  std::istringstream lines(run.err);
  std::vector<std::string> trace;
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 13 && line[2] == ':' && line[8] == '.') trace.push_back(line.substr(12));
  ASSERT_EQ(trace.size(), 4u) << run.err;
  EXPECT_TRUE(trace[0].starts_with(" TX ")) << trace[0];
  EXPECT_TRUE(trace[0].ends_with(" 00 00 00 06 00 03 00 00 00 05  read holding registers 0+5"))
      << trace[0];
  EXPECT_NE(trace[1].find(" RX "), std::string::npos) << trace[1];
  EXPECT_NE(trace[1].find("  reply 5 registers  "), std::string::npos) << trace[1];
  EXPECT_TRUE(trace[3].ends_with(" 00 83 02  exception 2 illegal data address") ||
              trace[3].find(" 00 83 02  exception 2 illegal data address  ") != std::string::npos)
      << trace[3];
  EXPECT_NE(run.err.find("\nrequests 2, replies 1, time-outs 0, exceptions 1, frame errors 0, "
                         "response ms min "),
            std::string::npos)
      << run.err;
}

// A stray frame 50 ms ahead of the reply is not decoded: the trace shows it
// as not matched, and the statistics count it.
TEST_F(PollerTest, StrayFrameIsShownAndCountedAsNotMatched) {
  using TServer = TScriptedTcpServer;
  TServer server([](const TServer::TFrame& Request) {
    TServer::TFrame stray = TServer::RegistersReply(Request, std::vector<uint16_t>(5, 0x1234));
    stray[0] = 7;
    stray[1] = 0;
    const TServer::TFrame reply =
        TServer::RegistersReply(Request, {0x0107, 0x0000, 0x4020, 0x5678, 0x1234});
    return TServer::TScript{TServer::Send(stray), TServer::Pause(std::chrono::milliseconds(50)),
                            TServer::Send(reply)};
  });
  const auto run = Poll({"--tcp", "127.0.0.1:" + std::to_string(server.Port()), "--format", "csv",
                         "--trace", "--stats"});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, std::string(CSV_HEADER) + CSV_ROWS);
  EXPECT_NE(run.err.find("  not matched: transaction id 7, expected 1"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("\nrequests 1, replies 1, time-outs 0, exceptions 0, frame errors 0, "
                         "not matched 1, response ms min "),
            std::string::npos)
      << run.err;
}

}  // namespace

// A write goes out only with a value that fits its type, and succeeds only
// when the device acknowledges it and holds it afterwards.
TEST_F(PollerTest, WriteIsRefusedOrFailsWithoutClaimingSuccess) {
  const auto writes = [](TAction Action) {
    return [Action](const TLoopbackModbusServer::TRequest& Request, int) {
      return Request.Function == 16 ? TReply{Action, 2} : TReply{};
    };
  };
  const struct {
    const char* Write;
    TLoopbackModbusServer::TScript Script;
    int ExitStatus;
    const char* Err;
    std::size_t Requests;
  } cases[] = {
      {"3=70000", nullptr, 2, "value '70000' is out of range for INT16; nothing sent", 0},
      {"3=nan:INT32", nullptr, 2, "is no number INT32 can hold; nothing sent", 0},
      {"3=1:TS96", nullptr, 2, "TS96 entries cannot be written; nothing sent", 0},
      {"3=7", writes(TAction::Exception), 1, "write 3: Eccezione Server: Indirizzo Illegale", 1},
      {"3=7", writes(TAction::Silent), 1, "write 3: Nessuna risposta dal dispositivo entro 0.2 s",
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Write);
    TLoopbackModbusServer server;
    server.SetScript(c.Script);
    const auto run =
        RunChild({KQ517POLL_PATH, "--tcp", "127.0.0.1:" + std::to_string(server.Port()),
                  "--timeout", "0.2", "--write", c.Write},
                 FFolder, std::chrono::seconds(20));
    EXPECT_EQ(run.exitStatus, c.ExitStatus) << run.err;
    EXPECT_NE(run.err.find(c.Err), std::string::npos) << run.err;
    EXPECT_EQ(server.Requests().size(), c.Requests);
  }
}
