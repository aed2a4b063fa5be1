// kq517poll against an independent Modbus TCP server: pymodbus.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ChildProgram.h"
#include "LoopbackPorts.h"
#include "RequirePeer.h"

namespace {

constexpr char PYTHON[] = "/usr/bin/python3";

bool PymodbusInstalled() {
  return RunChild({PYTHON, "-c", "import pymodbus.server"}, "/").exitStatus == 0;
}

// The pymodbus server as a child process, killed at the end of the test.
class TPymodbusServer {
 public:
  explicit TPymodbusServer(const std::vector<std::string>& Registers)
      : FPort(FreePort()),
        FServer(Arguments(FPort, Registers), ".", false, TServerOutput::soToTest) {
    for (int i = 0; i < 200 && !Accepting(FPort); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~TPymodbusServer() { FServer.Stop(SIGTERM); }
  uint16_t Port() const { return FPort; }

 private:
  static std::vector<std::string> Arguments(uint16_t Port,
                                            const std::vector<std::string>& Registers) {
    std::vector<std::string> arguments = {PYTHON, PYMODBUS_SERVER, std::to_string(Port)};
    arguments.insert(arguments.end(), Registers.begin(), Registers.end());
    return arguments;
  }

  uint16_t FPort;
  TServerProgram FServer;
};

TEST(PollerAgainstPymodbus, DecodesValuesAcrossBlocksAndReportsIllegalAddresses) {
  KQ_REQUIRE_PEER(PymodbusInstalled(), "pymodbus server",
                  "python3-pymodbus python3-serial-asyncio");
  setenv("LC_ALL", "C", 1);
  char folderName[] = "/tmp/kq517poll_pymodbus_XXXXXX";
  const std::string folder = mkdtemp(folderName);
  // A double -1.25 (0xBFF4000000000000) in registers 1..4 and 136 words after
  // it, so that the cycle needs two blocks.
  std::string map = "1-0:1.8.0|F|Energia attiva\n";
  for (int i = 0; i < 136; ++i) map += "0-0:96.1.0|i|parola " + std::to_string(i) + "\n";
  std::ofstream(folder + "/map.cfg") << map;

  TPymodbusServer server({"0=0x0105", "4=0xBFF4", "140=0x1234"});
  const std::string device = "127.0.0.1:" + std::to_string(server.Port());
  const auto run = RunChild(
      {KQ517POLL_PATH, "--tcp", device, "--format", "csv", "--byte-order", "1-0-3-2"}, folder);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.out.find("\r\n0,INT16,,261,0501,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\r\n1,FLOAT64,1-0:1.8.0,-1.25,F4BF000000000000,"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\r\n140,INT16,0-0:96.1.0,4660,3412,"), std::string::npos) << run.out;

  // --meter 2 starts at register 1000, beyond what the server holds.
  const auto beyond = RunChild({KQ517POLL_PATH, "--tcp", device, "--meter", "2"}, folder);
  EXPECT_EQ(beyond.exitStatus, 1);
  EXPECT_EQ(beyond.err, "kq517poll: cycle 1 of 1: Eccezione Server: Indirizzo Illegale\n");
  std::filesystem::remove_all(folder);
}

}  // namespace
