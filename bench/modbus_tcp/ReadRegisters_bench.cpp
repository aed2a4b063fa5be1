// Requests per second and CPU time per request for reads of 125 holding
// registers on loopback: TIdModBusClient (ReadTimeout 0 and 100) against
// libmodbus's modbus_read_registers, all against the same libmodbus server
// process. A second pair of series reads from a server that answers each
// request after 20 ms, as a slow device does: there the CPU per request shows
// whether the client sleeps in the kernel while it waits or spins. The series
// run in alternating rounds so that a slow phase of the machine hits all of
// them alike; the summary at the end adds the rounds up.
//
//   modbus_tcp_bench [--rounds=N] [google benchmark flags]

#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ChildProgram.h"
#include "IdModBusClient.h"
#include "ScriptedTcpServer.h"

namespace {

constexpr int Registers = 125;
constexpr auto SlowDeviceDelay = std::chrono::milliseconds(20);

void ReadWithIdModBusClient(benchmark::State& State, uint16_t Port, int32_t ReadTimeout) {
  TIdModBusClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(Port);
  client.SetAutoConnect(false);
  client.SetBaseRegister(0);
  client.SetReadTimeout(ReadTimeout);
  client.SetTimeOut(2000);
  client.Connect();
  std::vector<uint16_t> values(Registers);
  for (auto _ : State) {
    if (!client.ReadHoldingRegisters(0, Registers, values)) {
      State.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(values.data());
  }
  if (values[Registers - 1] != Registers - 1) State.SkipWithError("wrong register values");
}

void ReadWithLibmodbus(benchmark::State& State, uint16_t Port) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", Port);
  if (ctx == nullptr || modbus_connect(ctx) != 0) {
    State.SkipWithError("libmodbus client cannot connect");
    if (ctx != nullptr) modbus_free(ctx);
    return;
  }
  uint16_t values[Registers] = {};
  for (auto _ : State) {
    if (modbus_read_registers(ctx, 0, Registers, values) != Registers) {
      State.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(values);
  }
  modbus_close(ctx);
  modbus_free(ctx);
}

// Console output as usual, plus totals per series for the summary.
class TTotalsReporter : public benchmark::ConsoleReporter {
 public:
  struct TTotals {
    double Iterations = 0, RealSeconds = 0, CpuSeconds = 0;
  };

  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& run : Runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      std::string series = run.benchmark_name();
      series = series.substr(0, series.find("/round:"));
      TTotals& t = Totals[series];
      t.Iterations += static_cast<double>(run.iterations);
      t.RealSeconds += run.real_accumulated_time;
      t.CpuSeconds += run.cpu_accumulated_time;
    }
  }

  std::map<std::string, TTotals> Totals;
};

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rounds=", 9) == 0)
      rounds = std::max(1, std::atoi(argv[i] + 9));
    else
      args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());

  TPeerProcess server({LIBMODBUS_SERVER}, std::chrono::seconds(10));
  if (server.Port() == 0) {
    std::fprintf(stderr, "libmodbus server: %s\n", server.Failure().c_str());
    return 1;
  }
  const uint16_t port = server.Port();

  // The slow device: the same register values, each answer 20 ms late.
  TModbusMemory memory;
  for (int i = 0; i < Registers; ++i)
    memory.SetRegister(static_cast<uint16_t>(i), static_cast<uint16_t>(i));
  TScriptedTcpServer slowServer([&memory](const TScriptedTcpServer::TFrame& Request) {
    return TScriptedTcpServer::TScript{TScriptedTcpServer::Pause(SlowDeviceDelay),
                                       TScriptedTcpServer::Send(memory.Answer(Request))};
  });
  const uint16_t slowPort = slowServer.Port();

  for (int r = 1; r <= rounds; ++r) {
    const std::string round = "/round:" + std::to_string(r);
    benchmark::RegisterBenchmark(("IdModBusClient/ReadTimeout:0" + round).c_str(),
                                 ReadWithIdModBusClient, port, 0)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("libmodbus" + round).c_str(), ReadWithLibmodbus, port)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("IdModBusClient/ReadTimeout:100" + round).c_str(),
                                 ReadWithIdModBusClient, port, 100)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("IdModBusClient/ReadTimeout:0/device:20ms" + round).c_str(),
                                 ReadWithIdModBusClient, slowPort, 0)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("libmodbus/device:20ms" + round).c_str(), ReadWithLibmodbus,
                                 slowPort)
        ->UseRealTime();
  }

  TTotalsReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nReads of %d holding registers, loopback, one libmodbus server, %d rounds:\n",
              Registers, rounds);
  std::printf("%-44s %12s %18s\n", "client", "requests/s", "CPU us/request");
  for (const auto& [series, t] : reporter.Totals)
    std::printf("%-44s %12.0f %18.2f\n", series.c_str(), t.Iterations / t.RealSeconds,
                1e6 * t.CpuSeconds / t.Iterations);
  const auto lib = reporter.Totals.find("libmodbus");
  if (lib != reporter.Totals.end()) {
    const double libRate = lib->second.Iterations / lib->second.RealSeconds;
    for (const auto& [series, t] : reporter.Totals)
      if (series.starts_with("IdModBusClient") && series.find("device:") == std::string::npos)
        std::printf("ratio %s / libmodbus: %.2f\n", series.c_str(),
                    (t.Iterations / t.RealSeconds) / libRate);
  }
  return 0;
}
