// kq517poll over a serial line against an independent RTU slave (pymodbus on
// a pseudo-terminal), checked against the same registers read over Modbus TCP
// from pymodbus's TCP server.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "ChildProgram.h"
#include "LoopbackPorts.h"
#include "PtyBridge.h"
#include "RequirePeer.h"

namespace {

constexpr char PYTHON[] = "/usr/bin/python3";

bool PymodbusSerialInstalled() {
  return RunChild({PYTHON, "-c", "import pymodbus.server, serial"}, "/").exitStatus == 0;
}

std::vector<std::string> WithPython(const std::vector<std::string>& ScriptAndArguments) {
  std::vector<std::string> Arguments{PYTHON};
  Arguments.insert(Arguments.end(), ScriptAndArguments.begin(), ScriptAndArguments.end());
  return Arguments;
}

// A Python server as a child process, ended at the end of the test.
class TPythonServer {
 public:
  explicit TPythonServer(const std::vector<std::string>& ScriptAndArguments)
      : FServer(WithPython(ScriptAndArguments), ".", false, TServerOutput::soToTest) {}
  ~TPythonServer() { FServer.Stop(SIGTERM); }

 private:
  TServerProgram FServer;
};

TEST(SerialPollerAgainstPymodbus, ReadsOverRtuWhatTcpReadsAndReportsFailures) {
  KQ_REQUIRE_PEER(PymodbusSerialInstalled(), "pymodbus serial server",
                  "python3-pymodbus python3-serial python3-serial-asyncio");
  setenv("LC_ALL", "C", 1);
  char folderName[] = "/tmp/kq517poll_serial_XXXXXX";
  const std::string folder = mkdtemp(folderName);
  std::ofstream(folder + "/map.cfg") << "1-0:32.7.0|F|Tensione L1 (V)\n"
                                        "1-0:14.7.0|f|Frequenza (Hz)\n"
                                        "1-0:1.8.0|I|Energia attiva (Wh)\n"
                                        "0-0:1.0.0|D|Data\n"
                                        "0-0:1.0.1|T|Ora\n"
                                        "0-0:96.1.0|i|Stato\n";
  // Firmware 0x0105, 230.5 as a double, 50.0f, -1234, 20240131, 235907, 0xBEEF.
  const std::vector<std::string> registers = {
      "0=0x0105", "1=0",      "2=0",      "3=0xD000",  "4=0x406C",  "5=0",       "6=0x4248",
      "7=0xFB2E", "8=0xFFFF", "9=0xD703", "10=0x0134", "11=0x9983", "12=0x0003", "13=0xBEEF"};

  serialtest::TPtyBridge line;  // the poller opens one end, pymodbus the other
  std::vector<std::string> rtuArguments = {PYMODBUS_SERVER, "--baud", "115200", line.PathB()};
  rtuArguments.insert(rtuArguments.end(), registers.begin(), registers.end());
  TPythonServer rtu(rtuArguments);
  const uint16_t port = FreePort();
  std::vector<std::string> tcpArguments = {PYMODBUS_SERVER, std::to_string(port)};
  tcpArguments.insert(tcpArguments.end(), registers.begin(), registers.end());
  TPythonServer tcp(tcpArguments);
  for (int i = 0; i < 200 && !Accepting(port); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

  const std::vector<std::string> serialPoll = {KQ517POLL_PATH, "--serial", line.PathA(), "--format",
                                               "csv"};
  // pymodbus needs a moment to start listening on its end of the line.
  TProgramResult serial;
  for (int attempt = 0; attempt < 30; ++attempt) {
    serial = RunChild(serialPoll, folder);
    if (serial.exitStatus == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ASSERT_EQ(serial.exitStatus, 0) << serial.err;
  const auto overTcp = RunChild(
      {KQ517POLL_PATH, "--tcp", "127.0.0.1:" + std::to_string(port), "--format", "csv"}, folder);
  ASSERT_EQ(overTcp.exitStatus, 0) << overTcp.err;
  EXPECT_EQ(serial.out, overTcp.out);
  EXPECT_NE(serial.out.find("\r\n1,FLOAT64,1-0:32.7.0,230.5,"), std::string::npos) << serial.out;
  EXPECT_NE(serial.out.find("\r\n7,INT32,1-0:1.8.0,-1234,"), std::string::npos) << serial.out;
  EXPECT_NE(serial.out.find(",31/01/2024,"), std::string::npos) << serial.out;
  EXPECT_NE(serial.out.find(",23:59:07,"), std::string::npos) << serial.out;

  // Another byte sequence and a second cycle give the same over both paths (CSV:
  // the JSON formats carry the time of each cycle).
  const auto serialSwapped =
      RunChild({KQ517POLL_PATH, "--serial", line.PathA(), "--byte-order", "3-2-1-0", "--count", "2",
                "--interval", "0", "--format", "csv"},
               folder);
  const auto tcpSwapped =
      RunChild({KQ517POLL_PATH, "--tcp", "127.0.0.1:" + std::to_string(port), "--byte-order",
                "3-2-1-0", "--count", "2", "--interval", "0", "--format", "csv"},
               folder);
  EXPECT_EQ(serialSwapped.exitStatus, 0) << serialSwapped.err;
  EXPECT_EQ(serialSwapped.out, tcpSwapped.out);

  // Register 1000 (meter 2) is beyond what the slave holds: its exception reply.
  const auto beyond = RunChild({KQ517POLL_PATH, "--serial", line.PathA(), "--meter", "2"}, folder);
  EXPECT_EQ(beyond.exitStatus, 1);
  EXPECT_EQ(beyond.err, "kq517poll: cycle 1 of 1: Eccezione Server: Indirizzo Illegale\n");
  EXPECT_NE(beyond.out.find("<N/A>"), std::string::npos);

  // A slave address nobody answers: the poll reports the silence and goes on.
  const auto silent = RunChild(
      {KQ517POLL_PATH, "--serial", line.PathA(), "--slave", "9", "--count", "2", "--interval", "0"},
      folder);
  EXPECT_EQ(silent.exitStatus, 1);
  EXPECT_EQ(
      silent.err,
      "kq517poll: cycle 1 of 2: Nessuna Risposta\nkq517poll: cycle 2 of 2: Nessuna Risposta\n");

  const auto missing =
      RunChild({KQ517POLL_PATH, "--serial", folder + "/no-such-tty", "--count", "3"}, folder);
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_EQ(missing.err, "kq517poll: cycle 1 of 3: Could not open serial port " + folder +
                             "/no-such-tty: " + std::strerror(ENOENT) + "\n");
  // This tool's writes are held by pymodbus over both paths: the write's own
  // read-back and a later --read see what was written.
  for (const std::vector<std::string>& path :
       {std::vector<std::string>{"--serial", line.PathA()},
        std::vector<std::string>{"--tcp", "127.0.0.1:" + std::to_string(port)}}) {
    SCOPED_TRACE(path.front());
    std::vector<std::string> write{KQ517POLL_PATH};
    write.insert(write.end(), path.begin(), path.end());
    write.insert(write.end(),
                 {"--write", "20=-1234:INT32", "--write", "30=2,5:FLOAT64", "--format", "csv"});
    const auto wrote = RunChild(write, folder);
    EXPECT_EQ(wrote.exitStatus, 0) << wrote.err;
    EXPECT_NE(wrote.out.find("\r\n20,0xFB2E,64302,-1234,-1234,"), std::string::npos) << wrote.out;
    std::vector<std::string> read{KQ517POLL_PATH};
    read.insert(read.end(), path.begin(), path.end());
    read.insert(read.end(), {"--read", "30:4", "--format", "csv"});
    const auto back = RunChild(read, folder);
    EXPECT_EQ(back.exitStatus, 0) << back.err;
    EXPECT_NE(back.out.find("\r\n30,0x0000,0,0,0,0,2.5\r\n"), std::string::npos) << back.out;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
