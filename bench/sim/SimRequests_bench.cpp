// What the simulated meter costs: rendering every register of the five
// instances (done once per second), and a read of the whole sample map (101
// registers) over Modbus TCP on loopback, answered through the serial
// library's slave.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "LoopbackPorts.h"
#include "MeterRegisters.h"
#include "ModbusTcpFrontEnd.h"
#include "PollableMainThread.h"
#include "RegisterMap.h"
#include "SerialFrontEnd.h"

namespace {

std::vector<TConfigRecord> SampleMap() {
  TRegisterMap map;
  if (map.LoadConfig(mpNormal, KQ_MAP_FILE, TMapSettings{}) != TLoadResult::lrOk) {
    throw std::runtime_error("the sample map is invalid");
  }
  return map.Regs();
}

void BM_RenderAllInstances(benchmark::State& state) {
  const TSimulatedMeter meter(SampleMap(), TSimulatedMeterSettings{});
  TRegisterBank bank;
  TSimTime t = *ParseSimTime("2026-12-08T12:00:00");
  for (auto _ : state) {
    t.seconds += 1;
    meter.Render(t, bank);
    benchmark::DoNotOptimize(bank.Value(0));
  }
}
BENCHMARK(BM_RenderAllInstances)->Unit(benchmark::kMicrosecond);

// The simulator's loop on a thread of its own, as in the program.
class TSimulatorThread {
 public:
  TSimulatorThread() {
    if (::pipe(FStop) != 0) throw std::runtime_error("pipe");
    std::promise<std::uint16_t> port;
    auto ready = port.get_future();
    FThread = std::thread([this, &port] { Run(port); });
    FPort = ready.get();
  }
  ~TSimulatorThread() {
    FStopRequested = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(FStop[1], &byte, 1);
    FThread.join();
    ::close(FStop[0]);
    ::close(FStop[1]);
  }
  std::uint16_t Port() const { return FPort; }

 private:
  void Run(std::promise<std::uint16_t>& port) {
    TPollableMainThread mainThread;
    InstallMainThread(&mainThread);
    {
      const TSimulatedMeter meter(SampleMap(), TSimulatedMeterSettings{});
      const TSimClock clock;
      TMeterRegisters registers(meter, clock);
      TSerialFrontEnd serial(TSerialSettings{}, registers);
      serial.Open();
      TTcpFrontEndSettings settings;
      settings.port = 0;
      TModbusTcpFrontEnd tcp(settings, [&](const TTcpRequest& r, std::span<std::uint8_t> reply) {
        return serial.AnswerPdu(r.pdu, reply);
      });
      tcp.Listen();
      port.set_value(tcp.Port());
      const int wake[] = {FStop[0], mainThread.WakeFd()};
      while (!FStopRequested) {
        tcp.ServeOnce(-1, wake);
        mainThread.RunPending();
      }
      serial.Close();
    }
    InstallMainThread(nullptr);
  }
  int FStop[2] = {-1, -1};
  std::atomic<bool> FStopRequested{false};
  std::thread FThread;
  std::uint16_t FPort = 0;
};

void BM_TcpReadWholeMap(benchmark::State& state) {
  TSimulatorThread simulator;
  const int fd = ConnectLoopback(simulator.Port());
  if (fd < 0) {
    state.SkipWithError("cannot connect");
    return;
  }
  const std::uint8_t request[] = {0, 1, 0, 0, 0, 6, 0, 3, 0, 0, 0, 101};
  std::uint8_t reply[7 + 2 + 2 * 125];
  const std::size_t expected = 7 + 2 + 2 * 101;
  for (auto _ : state) {
    ::send(fd, request, sizeof request, MSG_NOSIGNAL);
    std::size_t got = 0;
    while (got < expected) {
      const ssize_t n = ::recv(fd, reply + got, sizeof reply - got, 0);
      if (n <= 0) {
        state.SkipWithError("connection lost");
        break;
      }
      got += static_cast<std::size_t>(n);
    }
    if (reply[7] != 3) state.SkipWithError("exception reply");
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TcpReadWholeMap)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
