// One serial poll cycle of a 125-register map as the poller and the window run it: write the
// settings, open the port, queue the read, decode the reply on the main thread, close the
// port. Its anchor, in the same run, is the same read on a port kept open. Argument 0: frames
// end at the line's silence (16 ms at 115200 bit/s); 1: by their predicted length.
// The libmodbus RTU slave and the pty bridge run in a child process.
// Run: bench_serial_cycle --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

#include "LibmodbusSlaveProcess.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "PtyBridge.h"
#include "SerialCollectionCycle.h"
#include "platform/MainThread.h"

namespace {

constexpr int Slave = 1;
std::string GLinePath;

// The firmware word and 62 singles: 125 registers, the most one request holds.
std::string Map125() {
  std::string Text;
  for (int i = 0; i < 62; ++i)
    Text += "1-0:32.7." + std::to_string(i) + "|f|Tensione " + std::to_string(i) + "\n";
  return Text;
}

struct TPoll {
  explicit TPoll(bool FrameEndByLength) {
    if (Map.LoadConfigFromBytes(mpNormal, Map125(), TMapSettings{}) != TLoadResult::lrOk ||
        Map.RequestSize(TMapSettings{}) != 125)
      throw std::logic_error("the benchmark map must span 125 registers");
    Map.UpdateGridStruct();
    Settings.Port = GLinePath;
    Settings.FrameEndByLength = FrameEndByLength;
    Cycle.OnCycleEnded = [this](const TCycleOutcome& Outcome) { Ended = Outcome.Ok; };
    Cycle.StartPoll();
  }
  // The cycle ended and read the map.
  bool WaitForReply() {
    return DefaultMainThread().ProcessMessagesUntil([this] { return Ended.has_value(); },
                                                    std::chrono::seconds(5)) &&
           *Ended;
  }
  TModbusConnection Connection;
  TModbusClient Client;
  TRegisterMap Map;
  TSerialCycleSettings Settings;
  TSerialCollectionCycle Cycle{Connection, Client, Map, [this] { return Settings; }};
  std::optional<bool> Ended;
};

void BM_SerialPollCycle(benchmark::State& State) {
  TPoll Poll(State.range(0) != 0);
  for (auto _ : State) {
    Poll.Ended.reset();
    if (!Poll.Cycle.CollectDataSerial() || !Poll.WaitForReply() || Poll.Connection.Active()) {
      State.SkipWithError("cycle failed");
      break;
    }
  }
}

void BM_ReadOnOpenPort(benchmark::State& State) {
  TPoll Poll(State.range(0) != 0);
  Poll.Connection.SetPort(GLinePath);
  Poll.Connection.SetBaudRate(br115200);
  Poll.Connection.SetParity(psNone);
  Poll.Connection.SetFrameEndByLength(State.range(0) != 0);
  Poll.Client.SetServerAddress(Slave);
  std::optional<TServerReply> Reply;
  Poll.Client.OnHoldingRegistersRead = [&](auto&, const TTransactionInfo& Info, auto, auto, auto&) {
    Reply = Info.Reply;
  };
  Poll.Connection.Open();
  for (auto _ : State) {
    Reply.reset();
    Poll.Client.ReadHoldingRegisters(0, 125);
    if (!DefaultMainThread().ProcessMessagesUntil([&] { return Reply.has_value(); },
                                                  std::chrono::seconds(5)) ||
        Reply != srNormalReply) {
      State.SkipWithError("read failed");
      break;
    }
  }
  Poll.Connection.Close();
}

BENCHMARK(BM_SerialPollCycle)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_ReadOnOpenPort)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  const interop::TLibmodbusSlaveProcess SlaveProcess(Slave);
  GLinePath = SlaveProcess.LinePath();
  if (GLinePath.empty()) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
