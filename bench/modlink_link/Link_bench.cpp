// Serial link benchmarks.
//  - CRC16 over 256-byte frames (bytes per second).
//  - End of an RTU frame on a pseudo-terminal at the default settings: the time from
//    the peer's write of the frame's last byte to ReceiveFrame returning. The frame
//    ends only after the silent interval (16 ms), so the figure to watch is
//    "over_silence_ms", the part above it.
//  - A receive that waits 200 ms for nothing: CPU time spent by the waiting thread
//    ("cpu_ms_per_wait"), which should be near zero since the kernel does the waiting.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "ErrorChecks.h"
#include "ModbusConnection.h"

namespace {

void BM_CRC16_256(benchmark::State& State) {
  std::vector<std::uint8_t> Frame(256);
  std::mt19937 Random(1);
  for (auto& b : Frame) b = static_cast<std::uint8_t>(Random());
  for (auto _ : State) benchmark::DoNotOptimize(CRC16(Frame.data(), Frame.size()));
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * 256);
}
BENCHMARK(BM_CRC16_256);

// A pty pair with the connection open on the slave side at its default settings.
struct TLink {
  TLink() {
    char Name[256] = {};
    openpty(&Master, &Slave, Name, nullptr, nullptr);
    termios Raw{};
    tcgetattr(Master, &Raw);
    cfmakeraw(&Raw);
    tcsetattr(Master, TCSANOW, &Raw);
    Conn.SetPort(Name);
    Conn.Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the worker's start-up purge
  }
  ~TLink() {
    Conn.Close();
    close(Master);
    close(Slave);
  }
  int Master = -1;
  int Slave = -1;
  TModbusConnection Conn;
};

double ThreadCpuMs() {
  timespec Now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
  return static_cast<double>(Now.tv_sec) * 1e3 + static_cast<double>(Now.tv_nsec) / 1e6;
}

void BM_RtuEndOfFrameLatency(benchmark::State& State) {
  TLink Link;
  const std::uint8_t Frame[] = {0x01, 0x03, 0x02, 0x00, 0x2A, 0x38, 0x5B};
  std::vector<std::uint8_t> Area(256);
  const double Silence = Link.Conn.RealSilentInterval();
  double TotalMs = 0;
  for (auto _ : State) {
    if (write(Link.Master, Frame, sizeof Frame) != static_cast<ssize_t>(sizeof Frame)) {
      State.SkipWithError("pty write failed");
      break;
    }
    const auto LastByte = std::chrono::steady_clock::now();
    const int Size = Link.Conn.ReceiveFrame(Area.data(), static_cast<int>(Area.size()), 1000);
    const auto Returned = std::chrono::steady_clock::now();
    if (Size != static_cast<int>(sizeof Frame)) {
      State.SkipWithError("frame not received whole");
      break;
    }
    const double Ms = std::chrono::duration<double, std::milli>(Returned - LastByte).count();
    TotalMs += Ms;
    State.SetIterationTime(Ms / 1e3);
  }
  State.counters["silence_ms"] = Silence;
  State.counters["over_silence_ms"] = TotalMs / static_cast<double>(State.iterations()) - Silence;
}
BENCHMARK(BM_RtuEndOfFrameLatency)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_IdleReceiveCpu(benchmark::State& State) {
  TLink Link;
  std::vector<std::uint8_t> Area(256);
  double CpuMs = 0;
  for (auto _ : State) {
    const double Before = ThreadCpuMs();
    benchmark::DoNotOptimize(
        Link.Conn.ReceiveFrame(Area.data(), static_cast<int>(Area.size()), 200));
    CpuMs += ThreadCpuMs() - Before;
  }
  State.counters["cpu_ms_per_wait"] = CpuMs / static_cast<double>(State.iterations());
}
BENCHMARK(BM_IdleReceiveCpu)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
