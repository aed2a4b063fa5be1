// Median time of one TCP collection cycle (connect when needed, three block
// reads of 124 + 124 + 52 registers, decoding pass, grid texts) for a
// 300-register map, against a Modbus TCP server on loopback in this process.
// Run: bench_poll_cycle --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <stdexcept>

#include "LoopbackModbusServer.h"
#include "TcpCollectionCycle.h"

namespace {

// A normal map of mixed types spanning 300 registers with the firmware word.
std::string MixedMap300() {
  std::string text;
  for (int i = 0; i < 33; ++i)
    text += "1-0:1.8." + std::to_string(i) + "|F|energia " + std::to_string(i) + "\n";
  for (int i = 0; i < 40; ++i)
    text += "1-0:32.7." + std::to_string(i) + "|f|tensione " + std::to_string(i) + "\n";
  for (int i = 0; i < 29; ++i)
    text += "0-0:96.1." + std::to_string(i) + "|I|contatore " + std::to_string(i) + "\n";
  for (int i = 0; i < 3; ++i) text += "0-0:1.0.0|d|data\n0-0:1.0.0|t|ora\n";
  for (int i = 0; i < 11; ++i) text += "0-0:96.14.0|i|tariffa\n";
  return text;
}

void RunCycles(benchmark::State& State, bool LeaveOpen) {
  TLoopbackModbusServer server;
  for (uint32_t r = 0; r < 300; ++r)
    server.SetRegister(static_cast<uint16_t>(r), static_cast<uint16_t>(r * 257));
  TRegisterMap map;
  if (map.LoadConfigFromBytes(mpNormal, MixedMap300(), TMapSettings{}) != TLoadResult::lrOk ||
      map.RequestSize(TMapSettings{}) != 300)
    throw std::logic_error("the benchmark map must span 300 registers");
  map.UpdateGridStruct();

  TIdModBusClient client;
  TTcpCollectionCycle cycle(client, map);
  TTcpCycleSettings settings;
  settings.Host = "127.0.0.1";
  settings.Port = server.Port();
  settings.LeaveConnectionOpen = LeaveOpen;
  cycle.StartPoll();
  for (auto _ : State) {
    if (!cycle.CollectDataTCP(settings).Ok) {
      State.SkipWithError("cycle failed");
      break;
    }
  }
  State.counters["requests"] = benchmark::Counter(3.0 * static_cast<double>(State.iterations()),
                                                  benchmark::Counter::kIsRate);
}

void BM_PollCycle_ConnectEachCycle(benchmark::State& State) {
  RunCycles(State, false);
}
void BM_PollCycle_LeaveConnectionOpen(benchmark::State& State) {
  RunCycles(State, true);
}

BENCHMARK(BM_PollCycle_ConnectEachCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PollCycle_LeaveConnectionOpen)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
