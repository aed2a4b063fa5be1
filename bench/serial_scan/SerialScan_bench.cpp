// The serial scan against a silent pseudo-terminal: every try waits for its
// whole reply time, which is what bounds a scan of an empty line.
// - BM_ScanTry/RATE: one try (one slave address) at RATE baud, no parity;
//   the counter FullScanSeconds extrapolates it to the 3 parities x 247
//   addresses of that rate. The five rates' figures add up to a full default
//   scan, which must stay under 180 s.
// Run: bench_serial_scan --benchmark_min_time=2
#include <benchmark/benchmark.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>

#include "SerialScan.h"

namespace {

void BM_ScanTry(benchmark::State& State) {
  int master = -1, slave = -1;
  char name[128] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    State.SkipWithError("no pseudo-terminal");
    return;
  }
  TBaudRate rate = br115200;
  for (std::size_t i = 0; i < CBaudRates.size(); ++i)
    if (CBaudRates[i] == static_cast<std::uint32_t>(State.range(0)))
      rate = static_cast<TBaudRate>(i);
  constexpr int TRIES = 10;
  double secondsPerTry = 0;
  for (auto _ : State) {
    TSerialScanSettings settings;
    settings.Port = name;
    settings.BaudRates = {rate};
    settings.Parities = {psNone};
    settings.FirstSlave = 1;
    settings.LastSlave = TRIES;
    const auto started = std::chrono::steady_clock::now();
    TSerialScan(settings).Run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    State.SetIterationTime(took.count() / TRIES);
    secondsPerTry += took.count() / TRIES;
  }
  State.counters["FullScanSeconds"] =
      secondsPerTry / static_cast<double>(State.iterations()) * 3 * 247;
  close(slave);
  close(master);
}
BENCHMARK(BM_ScanTry)
    ->ArgName("baud")
    ->Arg(9600)
    ->Arg(19200)
    ->Arg(38400)
    ->Arg(57600)
    ->Arg(115200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
