// CPU time per 125-register read of this library's master (queue, worker thread, result
// handed back to the main thread) next to a single-threaded master that writes the query,
// reads the reply and waits for the same silence on the same line. The libmodbus RTU slave
// and the pty bridge run in a child process, so the CPU time of this process is the
// masters' own.
//
// The two masters take turns in blocks of a few transactions on the same line, and the
// figures are the medians over the blocks: on a shared virtual machine the host's slow
// phases can double a run's CPU time, and alternating makes both masters meet them alike.
// Arg 0 is the documented silence framing; arg 1 shows the frame end by predicted length
// beside the same single-threaded anchor, which always waits the silence.
// Counters: cpu_us_per_transaction (ours), anchor_cpu_us_per_transaction, ratio (the median
// of the turns' ratios), main_thread_cpu_us (ours, the rest is the worker's), context switches of
// each. Run: modlink_master_cpu_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
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
constexpr int BlockSize = 10;  // transactions per master per turn
std::string GLinePath;

double ClockUs(clockid_t Clock) {
  timespec Now{};
  clock_gettime(Clock, &Now);
  return static_cast<double>(Now.tv_sec) * 1e6 + static_cast<double>(Now.tv_nsec) / 1e3;
}

long ContextSwitches() {
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  return Usage.ru_nvcsw + Usage.ru_nivcsw;
}

double Median(std::vector<double> Values) {
  if (Values.empty()) return 0;
  std::nth_element(Values.begin(), Values.begin() + Values.size() / 2, Values.end());
  return Values[Values.size() / 2];
}

// This library's master, driven the way an application drives it: a request, then the
// main thread's messages until the reply has been handed back.
class TModLinkMaster {
 public:
  explicit TModLinkMaster(bool FrameEndByLength) {
    FConnection.SetPort(GLinePath);
    FConnection.SetFrameEndByLength(FrameEndByLength);
    FClient.SetConnection(&FConnection);
    FClient.SetServerAddress(Slave);
    FClient.OnHoldingRegistersRead = [this](auto&, const TTransactionInfo& Info, auto, auto,
                                            auto&) { FReply = Info.Reply; };
    FConnection.Open();
  }
  ~TModLinkMaster() { FConnection.Close(); }

  bool Read() {
    FReply.reset();
    FClient.ReadHoldingRegisters(0, RegCount);
    DefaultMainThread().ProcessMessagesUntil([&] { return FReply.has_value(); },
                                             std::chrono::seconds(5));
    return FReply == srNormalReply;
  }

 private:
  TModbusConnection FConnection;
  TModbusClient FClient;
  std::optional<TServerReply> FReply;
};

// Writes the query, waits for the reply's first byte, reads until the line has been quiet
// for the silence, checks the CRC and unpacks the registers: a master without a queue or a
// thread. Opened before ours, which then takes the line exclusively.
class TSingleThreadedMaster {
 public:
  TSingleThreadedMaster()
      : FFd(::open(GLinePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    termios Raw{};
    ::tcgetattr(FFd, &Raw);
    ::cfmakeraw(&Raw);
    ::tcsetattr(FFd, TCSANOW, &Raw);
  }
  ~TSingleThreadedMaster() { ::close(FFd); }

  bool Read() {
    ::tcflush(FFd, TCIOFLUSH);
    if (::write(FFd, FQuery.data(), FQuery.size()) != static_cast<ssize_t>(FQuery.size()))
      return false;
    std::uint8_t Reply[512];
    std::size_t Got = 0;
    pollfd P{FFd, POLLIN, 0};
    int Wait = 1000;
    while (::poll(&P, 1, Wait) > 0) {
      const ssize_t N = ::read(FFd, Reply + Got, sizeof Reply - Got);
      if (N > 0) Got += static_cast<std::size_t>(N);
      Wait = static_cast<int>(MinimumRealSilentInterval);
    }
    if (Got != 5 + 2 * RegCount || CRC16(Reply, Got) != 0) return false;
    std::vector<std::uint16_t> Values(RegCount);
    for (int i = 0; i < RegCount; ++i)
      Values[i] = static_cast<std::uint16_t>(Reply[3 + 2 * i] << 8 | Reply[4 + 2 * i]);
    benchmark::DoNotOptimize(Values.data());
    return true;
  }

 private:
  int FFd;
  const serialtest::TBytes FQuery = serialtest::Rtu({Slave, 3, 0, 0, 0, RegCount});
};

struct TBlocks {
  std::vector<double> CpuUs, MainThreadUs, Switches;
  int Failures = 0;

  template <typename TMaster>
  void Run(TMaster& Master) {
    const double Main = ClockUs(CLOCK_THREAD_CPUTIME_ID);
    const double Process = ClockUs(CLOCK_PROCESS_CPUTIME_ID);
    const long SwitchesBefore = ContextSwitches();
    for (int i = 0; i < BlockSize; ++i)
      if (!Master.Read()) ++Failures;
    CpuUs.push_back((ClockUs(CLOCK_PROCESS_CPUTIME_ID) - Process) / BlockSize);
    MainThreadUs.push_back((ClockUs(CLOCK_THREAD_CPUTIME_ID) - Main) / BlockSize);
    Switches.push_back(static_cast<double>(ContextSwitches() - SwitchesBefore) / BlockSize);
  }
};

void BM_MasterCpu(benchmark::State& State) {
  TSingleThreadedMaster Anchor;
  TModLinkMaster Ours(State.range(0) != 0);
  TBlocks OursBlocks, AnchorBlocks;
  for (auto _ : State) {
    OursBlocks.Run(Ours);
    AnchorBlocks.Run(Anchor);
  }
  // Each turn's ratio compares blocks run back to back, under the same host conditions.
  std::vector<double> Ratios;
  for (std::size_t i = 0; i < OursBlocks.CpuUs.size(); ++i)
    if (AnchorBlocks.CpuUs[i] > 0) Ratios.push_back(OursBlocks.CpuUs[i] / AnchorBlocks.CpuUs[i]);
  State.counters["cpu_us_per_transaction"] = Median(OursBlocks.CpuUs);
  State.counters["anchor_cpu_us_per_transaction"] = Median(AnchorBlocks.CpuUs);
  State.counters["ratio"] = Median(Ratios);
  State.counters["main_thread_cpu_us"] = Median(OursBlocks.MainThreadUs);
  State.counters["context_switches_per_transaction"] = Median(OursBlocks.Switches);
  State.counters["anchor_context_switches_per_transaction"] = Median(AnchorBlocks.Switches);
  State.counters["failures"] = OursBlocks.Failures + AnchorBlocks.Failures;
}

// 60 turns of 2 x 10 transactions: about 20 s a run with the 16 ms silence.
BENCHMARK(BM_MasterCpu)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
