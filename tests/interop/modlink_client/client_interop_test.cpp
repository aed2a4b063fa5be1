// The serial client against independent slaves over a pty bridge: pymodbus in RTU and in
// ASCII (also with two stop bits), and libmodbus in RTU; and over TCP, as through a serial
// device server, pymodbus's TCP server with its RTU and its ASCII framer. Every request the
// peer supports round-trips; the ones it does not support come back as exception replies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <thread>

#include "ChildProgram.h"
#include "LoopbackPorts.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "PtyBridge.h"
#include "RequirePeer.h"
#include "platform/MainThread.h"
#ifdef HAVE_LIBMODBUS
#include "LibmodbusRtuServer.h"
#endif

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t Unit = 17;

bool RunUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 10s) {
  const auto Deadline = std::chrono::steady_clock::now() + Limit;
  while (!DefaultMainThread().ProcessMessagesUntil(Done, 5ms))
    if (std::chrono::steady_clock::now() > Deadline) return false;
  return true;
}

// A child process started by the test and ended by it; it holds none of the
// test's output pipes.
class TChildProcess {
 public:
  explicit TChildProcess(const std::vector<std::string>& Argv)
      : FProgram(Argv, ".", false, TServerOutput::soDiscarded) {}
  ~TChildProcess() { FProgram.Stop(SIGTERM); }

 private:
  TServerProgram FProgram;
};

bool PymodbusAvailable() {
  return kq_peer::PythonImports(PYTHON3, "pymodbus.server, serial");
}

// The pymodbus server with its patterned tables, answering Unit with `framer` on Link.
std::vector<std::string> PymodbusServer(const std::string& Framer, const std::string& Link,
                                        const std::vector<std::string>& Extra = {}) {
  std::vector<std::string> Argv{PYTHON3,    PYMODBUS_SERVER, "--data", "pattern",
                                "--framer", Framer,          "--unit", std::to_string(Unit)};
  Argv.insert(Argv.end(), Extra.begin(), Extra.end());
  Argv.push_back(Link);
  return Argv;
}

// What each peer answers beyond the common read and write requests.
struct TPeerAbilities {
  // Read Exception Status and Diagnostics: libmodbus's slave does not take them at all (it
  // cannot frame their queries), so they are asked only of peers that answer them.
  bool SerialLineFunctions;
  bool FileRecords;  // Write File Record is echoed
};

class ClientInterop : public ::testing::Test {
 protected:
  // On the pty bridge, or on tcp://HOST:PORT once the peer listens there.
  void OpenClient(TTransmissionMode Mode, const std::string& Port = {}, TStopBits Stop = sb1) {
    Connection.SetPort(Port.empty() ? Bridge.PathA() : Port);
    Connection.SetBaudRate(br19200);
    Connection.SetParity(psNone);  // pyserial refuses parity on a pty
    Connection.SetStopBits(Stop);
    Connection.SetTransmissionMode(Mode);
    Connection.SetReceiveTimeout(1000);
    Client.SetConnection(&Connection);
    Client.SetServerAddress(Unit);
    Client.OnTransactionProcessed = [this](auto&, const TTransactionInfo& I, auto, auto) {
      Last = I;
    };
    for (int Tries = 1;; ++Tries) {
      try {
        Connection.Open();
        return;
      } catch (const std::system_error&) {
        if (Port.empty() || Tries == 100) throw;  // the TCP peer may still be starting
        std::this_thread::sleep_for(100ms);
      }
    }
  }
  void TearDown() override {
    Connection.Close();
    DefaultMainThread().ProcessMessages();
  }

  // Runs one request to its completion and returns how it ended.
  TTransactionInfo Run(const std::function<void()>& Request) {
    Last.reset();
    Request();
    EXPECT_TRUE(RunUntil([this] { return Last.has_value(); }));
    return Last.value_or(TTransactionInfo{});
  }
  // Waits until the peer answers (it may still be starting).
  bool PeerAnswers() {
    for (int i = 0; i < 30; ++i)
      if (Run([this] { Client.ReadHoldingRegisters(0, 1); }).Reply == srNormalReply) return true;
    return false;
  }
  TRegValues ReadRegisters(std::uint16_t Start, std::uint16_t Count) {
    TRegValues Values;
    Client.OnHoldingRegistersRead = [&](auto&, auto&, auto, auto, const TRegValues& V) {
      Values = V;
    };
    EXPECT_EQ(Run([&] { Client.ReadHoldingRegisters(Start, Count); }).Reply, srNormalReply);
    Client.OnHoldingRegistersRead = nullptr;
    return Values;
  }
  TBitValues ReadCoils(std::uint16_t Start, std::uint16_t Count) {
    TBitValues Values;
    Client.OnCoilsRead = [&](auto&, auto&, auto, auto, const TBitValues& V) { Values = V; };
    EXPECT_EQ(Run([&] { Client.ReadCoils(Start, Count); }).Reply, srNormalReply);
    Client.OnCoilsRead = nullptr;
    return Values;
  }

  void RoundTrips(const TPeerAbilities& Peer) {
    ASSERT_TRUE(PeerAnswers()) << "the peer never answered";

    // Reads of all four tables.
    TBitValues Expected;
    for (int i = 1; i <= 20; ++i) Expected.push_back(i % 3 == 0);
    EXPECT_EQ(ReadCoils(1, 20), Expected);
    TBitValues Inputs;
    Client.OnDiscreteInputsRead = [&](auto&, auto&, auto, auto, const TBitValues& V) {
      Inputs = V;
    };
    EXPECT_EQ(Run([&] { Client.ReadDiscreteInputs(1, 20); }).Reply, srNormalReply);
    EXPECT_EQ(Inputs, Expected);
    const TRegValues Holding = ReadRegisters(10, 125);
    ASSERT_EQ(Holding.size(), 125u);
    for (int i = 0; i < 125; ++i) EXPECT_EQ(Holding[static_cast<std::size_t>(i)], 3 * (10 + i) + 1);
    TRegValues InputRegs;
    Client.OnInputRegistersRead = [&](auto&, auto&, auto, auto, const TRegValues& V) {
      InputRegs = V;
    };
    EXPECT_EQ(Run([&] { Client.ReadInputRegisters(5, 3); }).Reply, srNormalReply);
    EXPECT_EQ(InputRegs, (TRegValues{1005, 1006, 1007}));

    // Writes, each read back.
    EXPECT_EQ(Run([&] { Client.WriteSingleCoil(4, true); }).Reply, srNormalReply);
    EXPECT_EQ(ReadCoils(4, 1), TBitValues{true});
    EXPECT_EQ(Run([&] { Client.WriteSingleRegister(100, 0xBEEF); }).Reply, srNormalReply);
    EXPECT_EQ(ReadRegisters(100, 1), TRegValues{0xBEEF});
    const TBitValues Bits = {true, true, false, true, false, false, false, true, true};
    EXPECT_EQ(Run([&] { Client.WriteMultipleCoils(200, Bits); }).Reply, srNormalReply);
    EXPECT_EQ(ReadCoils(200, 9), Bits);
    EXPECT_EQ(Run([&] {
                Client.WriteMultipleRegisters(300, {1, 2, 0xFFFF});
              }).Reply,
              srNormalReply);
    EXPECT_EQ(ReadRegisters(300, 3), (TRegValues{1, 2, 0xFFFF}));
    EXPECT_EQ(Run([&] { Client.MaskWriteSingleRegister(400, 0x00F2, 0x0025); }).Reply,
              srNormalReply);
    EXPECT_EQ(ReadRegisters(400, 1),
              TRegValues{0x00B5});  // (0x04B1 AND 0xF2) OR (0x25 AND NOT 0xF2)
    TRegValues ReadBack;
    Client.OnMultipleRegistersReadWrite = [&](auto&, auto&, auto, auto, const TRegValues& R, auto,
                                              auto, auto&) { ReadBack = R; };
    EXPECT_EQ(Run([&] {
                Client.ReadWriteMultipleRegisters(500, 3, 600, {7, 8});
              }).Reply,
              srNormalReply);
    EXPECT_EQ(ReadBack, (TRegValues{1501, 1504, 1507}));
    EXPECT_EQ(ReadRegisters(600, 2), (TRegValues{7, 8}));

    std::int32_t IdBytes = 0;
    Client.OnServerIdentificationReport = [&](auto&, auto&, std::int32_t Count, auto&) {
      IdBytes = Count;
    };
    EXPECT_EQ(Run([&] { Client.ReportServerID(); }).Reply, srNormalReply);
    EXPECT_GT(IdBytes, 0);

    if (Peer.FileRecords) {
      // pymodbus keeps no files: it echoes a write and answers a read with no records,
      // which does not fit the query.
      TModbusFileRecordList Records;
      Records.Add(4, 7, TRegValues{0x06AF, 0x04BE});
      Records.Add(3, 9, TRegValues{0x1234});
      int Written = 0;
      Client.OnFileRecordWrite = [&](auto&, auto&, const TModbusFileRecordList& L) {
        Written = L.Count();
      };
      EXPECT_EQ(Run([&] { Client.WriteFileRecord(Records); }).Reply, srNormalReply);
      EXPECT_EQ(Written, 2);
      EXPECT_EQ(Run([&] { Client.ReadFileRecord(Records); }).Reply, srUnmatchedReply);
    }
    if (Peer.SerialLineFunctions) {
      EXPECT_EQ(Run([&] { Client.ReadExceptionStatus(); }).Reply, srNormalReply);
      std::optional<TDiagnosticAction> Action;
      Client.OnDiagnostics = [&](auto&, auto&, TDiagnosticAction A, std::uint16_t) { Action = A; };
      EXPECT_EQ(Run([&] { Client.Diagnostics(daReturnQueryData); }).Reply, srNormalReply);
      EXPECT_EQ(Action, daReturnQueryData);
    }

    // Beyond the peer's tables: an exception reply naming the address.
    const TTransactionInfo Beyond = Run([&] { Client.ReadHoldingRegisters(2990, 20); });
    EXPECT_EQ(Beyond.Reply, srExceptionReply);
    EXPECT_EQ(Beyond.Exception, seIllegalDataAddress);
  }

  serialtest::TPtyBridge Bridge;
  TModbusConnection Connection;
  TModbusClient Client;
  std::optional<TTransactionInfo> Last;
};

TEST_F(ClientInterop, PymodbusRtu) {
  KQ_REQUIRE_PEER(PymodbusAvailable(), "pymodbus serial server",
                  "python3-pymodbus python3-serial python3-serial-asyncio");
  TChildProcess Peer(PymodbusServer("rtu", Bridge.PathB()));
  OpenClient(tmRTU);
  RoundTrips({true, true});
}

TEST_F(ClientInterop, PymodbusAscii) {
  KQ_REQUIRE_PEER(PymodbusAvailable(), "pymodbus serial server",
                  "python3-pymodbus python3-serial python3-serial-asyncio");
  TChildProcess Peer(PymodbusServer("ascii", Bridge.PathB()));
  OpenClient(tmASCII);
  RoundTrips({true, true});
}

TEST_F(ClientInterop, PymodbusAsciiWithTwoStopBits) {
  KQ_REQUIRE_PEER(PymodbusAvailable(), "pymodbus serial server",
                  "python3-pymodbus python3-serial python3-serial-asyncio");
  TChildProcess Peer(PymodbusServer("ascii", Bridge.PathB(), {"--stopbits", "2"}));
  OpenClient(tmASCII, {}, sb2);
  RoundTrips({true, true});
}

class ClientInteropOverTcp : public ClientInterop,
                             public ::testing::WithParamInterface<TTransmissionMode> {};

TEST_P(ClientInteropOverTcp, PymodbusTcpServerWithTheSerialFramer) {
  KQ_REQUIRE_PEER(PymodbusAvailable(), "pymodbus serial server",
                  "python3-pymodbus python3-serial python3-serial-asyncio");
  const std::string Port = "tcp://127.0.0.1:" + std::to_string(FreePort());
  TChildProcess Peer(PymodbusServer(GetParam() == tmRTU ? "rtu" : "ascii", Port));
  OpenClient(GetParam(), Port);
  RoundTrips({true, true});
}

INSTANTIATE_TEST_SUITE_P(RtuAndAscii, ClientInteropOverTcp, ::testing::Values(tmRTU, tmASCII),
                         [](const auto& Info) { return Info.param == tmRTU ? "Rtu" : "Ascii"; });

TEST_F(ClientInterop, LibmodbusRtu) {
#ifdef HAVE_LIBMODBUS
  interop::TLibmodbusRtuServer Peer(Bridge.PathB(), Unit);
  OpenClient(tmRTU);
  RoundTrips({false, false});
  EXPECT_GT(Peer.Answered(), 10);
#else
  KQ_REQUIRE_PEER(false, "libmodbus RTU server", "libmodbus-dev (then configure again)");
#endif
}

}  // namespace
