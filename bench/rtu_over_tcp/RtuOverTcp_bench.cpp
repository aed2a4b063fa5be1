// One poll cycle of map.cfg over RTU over TCP, as the window and the poller run it through a
// serial device server: the core's serial cycle on the port tcp://127.0.0.1:P (connect, one
// read of the whole map on the library's worker, decode on the main thread, close), against
// kq517sim --rtu-over-tcp. Its anchor, on the same simulator: the Modbus TCP cycle of the same
// map. With argument 0 both connect on each cycle (the window's serial cycle closes after each
// reply); with argument 1 both leave the connection open (the poller's --leave-open). The goal
// is at most 1.3 times the anchor of argument 0.
//
// The two cycles take turns in blocks, and the figures are medians over the blocks, the
// ratio the median of each turn's own ratio: on a shared virtual machine one run's times
// swing by half, and alternating makes both cycles meet the slow phases alike. A third
// block reads the same registers on a connection kept open, which tells what the cycle
// spends on connecting, on starting its worker and on closing.
// Counters (microseconds a cycle): rtu_over_tcp_us, modbus_tcp_us, ratio,
// read_on_open_connection_us. Run: bench_rtu_over_tcp
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildProgram.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "SerialCollectionCycle.h"
#include "TcpCollectionCycle.h"
#include "platform/MainThread.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr int BlockSize = 10;  // cycles of each kind per turn
std::string GTcpPort;
std::string GLinePort;

double Median(std::vector<double> Values) {
  if (Values.empty()) return 0;
  std::nth_element(Values.begin(), Values.begin() + Values.size() / 2, Values.end());
  return Values[Values.size() / 2];
}

void LoadMap(TRegisterMap& Map) {
  if (Map.LoadConfig(mpNormal, MAP_FILE, TMapSettings{}) != TLoadResult::lrOk)
    throw std::logic_error("cannot load " + std::string(MAP_FILE));
  Map.UpdateGridStruct();
}

bool WaitFor(const std::optional<TServerReply>& Reply) {
  return DefaultMainThread().ProcessMessagesUntil([&] { return Reply.has_value(); },
                                                  std::chrono::seconds(5)) &&
         Reply == srNormalReply;
}

bool WaitFor(const std::optional<TCycleOutcome>& Outcome) {
  return DefaultMainThread().ProcessMessagesUntil([&] { return Outcome.has_value(); },
                                                  std::chrono::seconds(5)) &&
         Outcome->Ok;
}

// The serial collection cycle of the window and the poller, on a tcp:// port.
struct TRtuOverTcpPoll {
  explicit TRtuOverTcpPoll(bool LeaveOpen) : StaysOpen(LeaveOpen) {
    LoadMap(Map);
    Settings.Port = "tcp://127.0.0.1:" + GLinePort;
    Settings.LeaveStreamOpen = LeaveOpen;
    Cycle.OnCycleEnded = [this](const TCycleOutcome& Ended) { Outcome = Ended; };
    Cycle.StartPoll();
  }
  bool Run() {
    Outcome.reset();
    return Cycle.CollectDataSerial() && WaitFor(Outcome) && Connection.Active() == StaysOpen;
  }
  std::string LastError() const { return Outcome ? Outcome->Error : "no reply"; }
  bool StaysOpen;
  TModbusConnection Connection;
  TModbusClient Client;
  TRegisterMap Map;
  TSerialCycleSettings Settings;
  TSerialCollectionCycle Cycle{Connection, Client, Map, [this] { return Settings; }};
  std::optional<TCycleOutcome> Outcome;
};

// The same read on a connection kept open.
struct TOpenConnectionRead {
  explicit TOpenConnectionRead(std::uint16_t Registers) : Count(Registers) {
    Connection.SetPort("tcp://127.0.0.1:" + GLinePort);
    Client.SetConnection(&Connection);
    Client.SetServerAddress(1);
    Client.OnHoldingRegistersRead = [this](auto&, const TTransactionInfo& Info, auto, auto, auto&) {
      Reply = Info.Reply;
    };
    Connection.Open();
  }
  ~TOpenConnectionRead() { Connection.Close(); }
  bool Run() {
    Reply.reset();
    Client.ReadHoldingRegisters(0, Count);
    return WaitFor(Reply);
  }
  TModbusConnection Connection;
  TModbusClient Client;
  std::uint16_t Count;
  std::optional<TServerReply> Reply;
};

// The Modbus TCP collection cycle of the window and the poller.
struct TModbusTcpPoll {
  explicit TModbusTcpPoll(bool LeaveOpen) {
    LoadMap(Map);
    Settings.Host = "127.0.0.1";
    Settings.Port = static_cast<std::uint16_t>(std::stoi(GTcpPort));
    Settings.LeaveConnectionOpen = LeaveOpen;
    Cycle.StartPoll();
  }
  bool Run() { return Cycle.CollectDataTCP(Settings).Ok; }
  TIdModBusClient Client;
  TRegisterMap Map;
  TTcpCollectionCycle Cycle{Client, Map};
  TTcpCycleSettings Settings;
};

// Microseconds a run of Poll takes, over a block; negative when one failed.
template <typename TPoll>
double BlockUs(TPoll& Poll) {
  const auto Start = TClock::now();
  for (int i = 0; i < BlockSize; ++i)
    if (!Poll.Run()) return -1;
  return std::chrono::duration<double, std::micro>(TClock::now() - Start).count() / BlockSize;
}

void BM_RtuOverTcpCycle(benchmark::State& State) {
  TRtuOverTcpPoll Ours(State.range(0) != 0);
  TModbusTcpPoll Anchor(State.range(0) != 0);
  TOpenConnectionRead OpenRead(static_cast<std::uint16_t>(Ours.Map.RequestSize(TMapSettings{})));
  std::vector<double> OursUs, AnchorUs, OpenReadUs, Ratios;
  for (auto _ : State) {
    OursUs.push_back(BlockUs(Ours));
    AnchorUs.push_back(BlockUs(Anchor));
    OpenReadUs.push_back(BlockUs(OpenRead));
    if (OursUs.back() < 0 || AnchorUs.back() < 0 || OpenReadUs.back() < 0) {
      State.SkipWithError(("a cycle failed: " + Ours.LastError()).c_str());
      break;
    }
    // Blocks run back to back, under the same host conditions.
    Ratios.push_back(OursUs.back() / AnchorUs.back());
  }
  State.counters["rtu_over_tcp_us"] = Median(OursUs);
  State.counters["modbus_tcp_us"] = Median(AnchorUs);
  State.counters["ratio"] = Median(Ratios);
  State.counters["read_on_open_connection_us"] = Median(OpenReadUs);
  State.counters["registers"] = Ours.Map.RequestSize(TMapSettings{});
}

// 300 turns of 3 x 10 cycles: a few seconds a run.
BENCHMARK(BM_RtuOverTcpCycle)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  TServerProgram Sim({KQ517SIM, "--tcp", "127.0.0.1:0", "--rtu-over-tcp", "127.0.0.1:0"},
                     std::filesystem::path(KQ517SIM).parent_path());
  GTcpPort = Sim.WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
  const std::string Line = Sim.WaitForLine("kq517sim: Modbus RTU over TCP on 127.0.0.1:");
  GLinePort = Line.substr(0, Line.find(' '));
  if (GTcpPort.empty() || GLinePort.empty()) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
