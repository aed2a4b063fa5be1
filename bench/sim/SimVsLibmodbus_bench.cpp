// Requests per second that kq517sim serves over Modbus TCP on loopback, next to a
// libmodbus server in the same run, with 1 and with 8 clients (one connection and one
// thread each, every client waiting for its reply before it asks again). Every request
// reads the 101 holding registers from address 0, which both servers hold.
// Run: sim_vs_libmodbus_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//        --benchmark_report_aggregates_only=true
// and compare items_per_second of the two servers.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "ChildProgram.h"
#include "LoopbackPorts.h"

namespace {

struct TServers {
  TServers()
      : Sim({KQ517SIM_PATH, "--tcp", "0", "--max-clients", "64"}, "."),
        Libmodbus({LIBMODBUS_SERVER}, ".") {
    const std::string SimPort = Sim.WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
    const std::string LibmodbusPort = Libmodbus.WaitForLine("");
    if (SimPort.empty() || LibmodbusPort.empty())
      throw std::runtime_error("a server did not start");
    SimTcpPort = static_cast<std::uint16_t>(std::stoi(SimPort));
    LibmodbusTcpPort = static_cast<std::uint16_t>(std::stoi(LibmodbusPort));
  }
  TServerProgram Sim;
  TServerProgram Libmodbus;
  std::uint16_t SimTcpPort = 0;
  std::uint16_t LibmodbusTcpPort = 0;
};

TServers& Servers() {
  static TServers Instance;
  return Instance;
}

int Connect(std::uint16_t Port) {
  const int Fd = ConnectLoopback(Port);
  const int On = 1;
  if (Fd >= 0) ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
  return Fd;
}

void Requests(benchmark::State& State, std::uint16_t Port) {
  const int Fd = Connect(Port);
  if (Fd < 0) {
    State.SkipWithError("cannot connect");
    return;
  }
  constexpr std::uint16_t Count = 101;
  std::uint8_t Request[] = {0, 0, 0, 0, 0, 6, 0, 3, 0, 0, 0, Count};
  std::uint8_t Reply[7 + 2 + 2 * 125];
  const std::size_t Expected = 7 + 2 + 2 * Count;
  std::uint16_t Tid = 0;
  for (auto _ : State) {
    ++Tid;
    Request[0] = static_cast<std::uint8_t>(Tid >> 8);
    Request[1] = static_cast<std::uint8_t>(Tid);
    ::send(Fd, Request, sizeof Request, MSG_NOSIGNAL);
    std::size_t Got = 0;
    while (Got < Expected) {
      const ssize_t N = ::recv(Fd, Reply + Got, sizeof Reply - Got, 0);
      if (N <= 0) break;
      Got += static_cast<std::size_t>(N);
    }
    if (Got != Expected || Reply[7] != 3 || Reply[0] != Request[0] || Reply[1] != Request[1]) {
      State.SkipWithError("wrong reply");
      break;
    }
  }
  ::close(Fd);
  State.SetItemsProcessed(State.iterations());
}

void BM_Kq517simRequests(benchmark::State& State) {
  Requests(State, Servers().SimTcpPort);
}
void BM_LibmodbusServerRequests(benchmark::State& State) {
  Requests(State, Servers().LibmodbusTcpPort);
}

BENCHMARK(BM_Kq517simRequests)->Threads(1)->Threads(8)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LibmodbusServerRequests)->Threads(1)->Threads(8)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  benchmark::Initialize(&argc, argv);
  Servers();  // both started before any measurement
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
