// Targets under hostile peers:
// - the poller's peak resident memory while a device streams bytes without end
//   (zeros, or well-formed frames that answer no request) stays under 30 MB;
// - /metrics answers within 1 s while 100 idle clients and 8 that send a byte
//   of a request head every 200 ms are connected.
// A run past its target ends with an error. Run:
//   bench_hostile_peers --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPorts.h"
#include "MetricsServer.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

int ConnectTo(uint16_t Port) {
  return ConnectLoopback(Port);
}

// A device on 127.0.0.1 that, once connected, sends Chunk over and over
// until it is destroyed.
class TStreamingDevice {
 public:
  explicit TStreamingDevice(std::vector<uint8_t> Chunk) : FChunk(std::move(Chunk)) {
    FListen = ListenLoopback(FPort);
    FThread = std::thread([this] { Run(); });
  }
  ~TStreamingDevice() {
    FStop = true;
    FThread.join();
    close(FListen);
  }
  uint16_t Port() const { return FPort; }

 private:
  void Run() {
    std::vector<int> clients;
    while (!FStop) {
      std::vector<pollfd> fds{{FListen, POLLIN, 0}};
      for (const int c : clients) fds.push_back({c, POLLOUT, 0});
      if (poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN)
        clients.push_back(accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC));
      for (std::size_t i = 1; i < fds.size(); ++i)
        if ((fds[i].revents & (POLLERR | POLLHUP)) ||
            ((fds[i].revents & POLLOUT) &&
             send(fds[i].fd, FChunk.data(), FChunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
             errno != EAGAIN)) {
          close(fds[i].fd);
          std::erase(clients, fds[i].fd);
        }
    }
    for (const int c : clients) close(c);
  }

  std::vector<uint8_t> FChunk;
  int FListen = -1;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// Peak resident memory of one poller run of 20 cycles against the device, in MB.
double PollerPeakMegabytes(uint16_t Port) {
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    const std::string device = "127.0.0.1:" + std::to_string(Port);
    execl(KQ517POLL_PATH, KQ517POLL_PATH, "--tcp", device.c_str(), "--count", "20", "--interval",
          "0", "--keep-going", "--timeout", "1", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void BM_PollerMemoryUnderStreamingDevice(benchmark::State& State) {
  std::vector<uint8_t> chunk(64 * 1024, 0);
  if (State.range(0) == 1) {  // replies of 125 registers to transaction 0x7777, over and over
    const uint8_t header[] = {0x77, 0x77, 0, 0, 0, 253, 0, 3, 250};
    chunk.clear();
    while (chunk.size() < 64 * 1024) {
      chunk.insert(chunk.end(), std::begin(header), std::end(header));
      chunk.insert(chunk.end(), 250, 0x12);
    }
  }
  const TStreamingDevice device(chunk);
  double peak = 0;
  for (auto _ : State) peak = std::max(peak, PollerPeakMegabytes(device.Port()));
  State.counters["peak_rss_MB"] = peak;
  if (peak >= 30) State.SkipWithError("the poller's resident memory reached 30 MB");
}
BENCHMARK(BM_PollerMemoryUnderStreamingDevice)
    ->ArgName("frames")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Sends a byte of a request head every 200 ms on each connection.
class TSlowClients {
 public:
  TSlowClients(uint16_t Port, int Count) {
    for (int i = 0; i < Count; ++i) FFds.push_back(ConnectTo(Port));
    FThread = std::thread([this] {
      while (!FStop) {
        for (const int fd : FFds) send(fd, "G", 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(200ms);
      }
    });
  }
  ~TSlowClients() {
    FStop = true;
    FThread.join();
    for (const int fd : FFds) close(fd);
  }

 private:
  std::vector<int> FFds;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// One scrape: request, then read until the server closes. True on "200 OK".
bool Scrape(uint16_t Port) {
  const int fd = ConnectTo(Port);
  const char request[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 2000) <= 0) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return answer.starts_with("HTTP/1.1 200 OK");
}

void BM_MetricsScrapeBesideIdleAndSlowClients(benchmark::State& State) {
  const uint16_t port = FreePort();
  const std::string text(4000, 'k');  // about the size of a meter's metrics
  TMetricsServer server("127.0.0.1", port, [&text] { return text; });
  std::vector<int> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(ConnectTo(port));
  const TSlowClients slow(port, 8);
  std::this_thread::sleep_for(300ms);
  double slowest = 0;
  for (auto _ : State) {
    const auto start = TClock::now();
    const bool ok = Scrape(port);
    const double took = std::chrono::duration<double>(TClock::now() - start).count();
    State.SetIterationTime(took);
    slowest = std::max(slowest, took);
    if (!ok) {
      State.SkipWithError("the scrape was not answered");
      break;
    }
  }
  for (const int fd : idle) close(fd);
  State.counters["slowest_ms"] = slowest * 1000;
  if (slowest >= 1.0) State.SkipWithError("a scrape took a second or more");
}
BENCHMARK(BM_MetricsScrapeBesideIdleAndSlowClients)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
