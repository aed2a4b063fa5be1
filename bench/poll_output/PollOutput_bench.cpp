// What writing one cycle costs in each output format of kq517poll, for the
// whole sample map (map.cfg, 34 entries plus the firmware word), against what
// one TCP poll cycle of that map costs against kq517sim on loopback. The
// formats should stay well under a tenth of a cycle.
// Run: bench_poll_output --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "ChildProgram.h"
#include "Metrics.h"
#include "PollLoop.h"
#include "PollPrinter.h"
#include "TcpCycleSource.h"

namespace {

const std::string SIM = KQ517SIM_PATH;

// The simulator, started once for the whole run, with its clock frozen so
// that every cycle decodes the same texts.
const std::string& SimDevice() {
  static std::unique_ptr<TServerProgram> sim;
  static std::string device;
  if (!sim) {
    sim = std::make_unique<TServerProgram>(
        std::vector<std::string>{SIM, "--tcp", "127.0.0.1:0", "--clock", "2026-12-08T10:20:30"},
        std::filesystem::path(SIM).parent_path().string());
    device = sim->WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
    if (device.empty()) throw std::runtime_error("kq517sim did not start");
  }
  return device;
}

struct TPolledMap {
  TPollOptions Options;
  TRegisterMap Map;
  std::unique_ptr<TTcpCycleSource> Source;

  TPolledMap() {
    Options.Tcp.Host = "127.0.0.1";
    Options.Tcp.Port = static_cast<uint16_t>(std::stoi(SimDevice()));
    const std::string map = (std::filesystem::path(SIM).parent_path() / "map.cfg").string();
    if (Map.LoadConfig(mpNormal, map, TMapSettings{}) != TLoadResult::lrOk)
      throw std::runtime_error("cannot load " + map);
    Map.UpdateGridStruct();
    Source = std::make_unique<TTcpCycleSource>(Options, Map);
  }

  TCycleRecord Record() {
    const TCycleOutcome outcome = Source->RunCycle();
    if (!outcome.Ok) throw std::runtime_error("the cycle failed");
    TCycleRecord record = RecordOf(Map, Options, 1, outcome);
    record.Time = std::chrono::system_clock::now();
    return record;
  }
};

void BM_TcpPollCycle(benchmark::State& State) {
  TPolledMap polled;
  for (auto _ : State) {
    if (!polled.Source->RunCycle().Ok) State.SkipWithError("the cycle failed");
  }
}
BENCHMARK(BM_TcpPollCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_FormatCycle(benchmark::State& State) {
  TPolledMap polled;
  const TCycleRecord record = polled.Record();
  TPrinterSettings settings;
  settings.Format = static_cast<EOutputFormat>(State.range(0));
  settings.DecimalSeparator = ",";
  std::ostringstream out;
  TPollPrinter printer(out, settings);
  std::size_t bytes = 0;
  for (auto _ : State) {
    printer.PrintCycle(record);
    bytes += static_cast<std::size_t>(out.tellp());
    out.seekp(0);  // the next cycle overwrites this one
  }
  State.SetLabel(FormatName(settings.Format));
  State.counters["bytes/cycle"] =
      static_cast<double>(bytes) / static_cast<double>(State.iterations());
}
BENCHMARK(BM_FormatCycle)
    ->ArgName("format")
    ->DenseRange(0, static_cast<int>(ALL_OUTPUT_FORMATS.size()) - 1)
    ->Unit(benchmark::kMicrosecond);

void BM_MetricsExposition(benchmark::State& State) {
  TPolledMap polled;
  TMetricsState metrics;
  metrics.Record(polled.Record());
  for (auto _ : State) benchmark::DoNotOptimize(metrics.Render());
}
BENCHMARK(BM_MetricsExposition)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
