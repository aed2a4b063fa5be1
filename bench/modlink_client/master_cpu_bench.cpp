// CPU time per 125-register read of this library's master (queue, worker thread, result
// handed back to the main thread) next to a single-threaded master that writes the query,
// reads the reply and waits for the same silence on the same kind of line, in the same
// run. The libmodbus RTU slave and the pty bridge run in a child process, so the CPU time
// of this process is the masters' own. Both wait for the line's silence (documented
// framing); BM_ModLinkMasterCpu/1 shows the frame end by predicted length beside them.
// Counters: cpu_us_per_transaction, context_switches_per_transaction, and for the library
// main_thread_cpu_us (the rest is the worker's).
// Run: modlink_master_cpu_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ErrorChecks.h"
#include "FrameBytes.h"
#include "LibmodbusSlaveProcess.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "PtyBridge.h"
#include "platform/MainThread.h"

namespace {

constexpr int Slave = 1;
constexpr int RegCount = 125;
std::string GLinePath;

struct TUsage {
  double CpuUs = 0;
  long Switches = 0;
};

TUsage ProcessUsage() {
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  const auto Us = [](const timeval& T) { return static_cast<double>(T.tv_sec) * 1e6 + static_cast<double>(T.tv_usec); };
  return {Us(Usage.ru_utime) + Us(Usage.ru_stime), Usage.ru_nvcsw + Usage.ru_nivcsw};
}

double ThreadCpuUs() {
  timespec Now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
  return static_cast<double>(Now.tv_sec) * 1e6 + static_cast<double>(Now.tv_nsec) / 1e3;
}

void Report(benchmark::State& State, const TUsage& Before, int Failures) {
  const TUsage After = ProcessUsage();
  const auto N = static_cast<double>(State.iterations());
  State.counters["cpu_us_per_transaction"] = (After.CpuUs - Before.CpuUs) / N;
  State.counters["context_switches_per_transaction"] = static_cast<double>(After.Switches - Before.Switches) / N;
  State.counters["failures"] = Failures;
}

void BM_ModLinkMasterCpu(benchmark::State& State) {
  TModbusConnection Connection;
  TModbusClient Client;
  Connection.SetPort(GLinePath);
  Connection.SetFrameEndByLength(State.range(0) != 0);
  Client.SetConnection(&Connection);
  Client.SetServerAddress(Slave);
  std::optional<TServerReply> Reply;
  Client.OnHoldingRegistersRead = [&](auto&, const TTransactionInfo& Info, auto, auto, auto&) { Reply = Info.Reply; };
  Connection.Open();
  State.counters["silence_ms"] = Connection.RealSilentInterval();
  int Failures = 0;
  const double MainBefore = ThreadCpuUs();
  const TUsage Before = ProcessUsage();
  for (auto _ : State) {
    Reply.reset();
    Client.ReadHoldingRegisters(0, RegCount);
    DefaultMainThread().ProcessMessagesUntil([&] { return Reply.has_value(); }, std::chrono::seconds(5));
    if (Reply != srNormalReply) ++Failures;
  }
  State.counters["main_thread_cpu_us"] = (ThreadCpuUs() - MainBefore) / static_cast<double>(State.iterations());
  Report(State, Before, Failures);
  Connection.Close();
}

// Write the query, wait for the reply's first byte, read until the line has been quiet for
// the silence, check the CRC and unpack the registers: what a master without a queue or a
// thread does.
void BM_SingleThreadedMasterCpu(benchmark::State& State) {
  const int Fd = ::open(GLinePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios Raw{};
  ::tcgetattr(Fd, &Raw);
  ::cfmakeraw(&Raw);
  ::tcsetattr(Fd, TCSANOW, &Raw);
  const int SilenceMs = static_cast<int>(MinimumRealSilentInterval);
  const serialtest::TBytes Query = serialtest::Rtu({Slave, 3, 0, 0, 0, RegCount});
  const std::size_t ReplySize = 5 + 2 * RegCount;
  std::uint8_t Reply[512];
  int Failures = 0;
  const TUsage Before = ProcessUsage();
  for (auto _ : State) {
    ::tcflush(Fd, TCIOFLUSH);
    if (::write(Fd, Query.data(), Query.size()) != static_cast<ssize_t>(Query.size())) ++Failures;
    std::size_t Got = 0;
    pollfd P{Fd, POLLIN, 0};
    int Wait = 1000;
    while (::poll(&P, 1, Wait) > 0) {
      const ssize_t N = ::read(Fd, Reply + Got, sizeof Reply - Got);
      if (N > 0) Got += static_cast<std::size_t>(N);
      Wait = SilenceMs;
    }
    if (Got != ReplySize || CRC16(Reply, Got) != 0) {
      ++Failures;
      continue;
    }
    std::vector<std::uint16_t> Values(RegCount);
    for (int i = 0; i < RegCount; ++i) Values[i] = static_cast<std::uint16_t>(Reply[3 + 2 * i] << 8 | Reply[4 + 2 * i]);
    benchmark::DoNotOptimize(Values.data());
  }
  Report(State, Before, Failures);
  ::close(Fd);
}

BENCHMARK(BM_ModLinkMasterCpu)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SingleThreadedMasterCpu)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

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
