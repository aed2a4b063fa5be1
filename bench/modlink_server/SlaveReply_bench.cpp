// The serial slave on pseudo-terminals.
//
// BM_LibmodbusReads125: a libmodbus RTU master reads 125 holding registers from our slave
// over a pty bridge, back to back; the rate is the queries per second the slave answers.
// Our slave ends an RTU query by line silence (at least 16 ms), so the rate is bounded by
// roughly 1000 / 16 per second whatever the line speed.
//
// BM_ReplyLatencyBeyondSilence: the test writes a 125-register query straight into the pty
// and times the first reply byte. The time per iteration is query to first reply byte; the
// counters give what the slave adds beyond its silent interval (decode, handlers on the main
// thread, encode, send). The silence wait itself is rounded to whole milliseconds, so a
// reply can come slightly before the nominal interval: the minimum may be negative.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ModbusConnection.h"
#include "ModbusServer.h"
#include "PtyBridge.h"
#include "platform/MainThread.h"

namespace {

using TClock = std::chrono::steady_clock;

// Runs a slave on its own "main" thread, which owns the connection and serves the calls the
// worker hands over, as an application's user-interface thread would.
class TSlaveHost {
 public:
  explicit TSlaveHost(std::string Port) : FPort(std::move(Port)) {
    FThread = std::thread([this] { Run(); });
    std::unique_lock<std::mutex> Lock(FLock);
    FChanged.wait(Lock, [this] { return FReady; });
  }
  ~TSlaveHost() {
    FStop = true;
    FThread.join();
  }
  TSlaveHost(const TSlaveHost&) = delete;
  TSlaveHost& operator=(const TSlaveHost&) = delete;

  bool Failed() const { return !FError.empty(); }
  const std::string& Error() const { return FError; }
  std::uint32_t SilentInterval() const { return FSilence; }

  // A freshly started slave loop discards what is pending, so probe from the far end with a
  // frame too short to be valid until the loop reports it.
  bool WaitUntilListening(int FarFd) {
    for (int Attempt = 0; Attempt < 50; ++Attempt) {
      const int Before = FInvalidFrames;
      if (::write(FarFd, ":\r\n", 3) != 3) return false;
      const auto Deadline = TClock::now() + std::chrono::milliseconds(200);
      while (TClock::now() < Deadline)
        if (FInvalidFrames > Before) return Drain(FarFd);
    }
    return false;
  }

 private:
  static bool Drain(int Fd) {
    std::uint8_t Scratch[256];
    pollfd Poll{Fd, POLLIN, 0};
    while (::poll(&Poll, 1, 50) > 0 && ::read(Fd, Scratch, sizeof Scratch) > 0) {
    }
    return true;
  }

  void Run() {
    DefaultMainThread().SetOwnerThread(std::this_thread::get_id());
    try {
      TModbusConnection Connection;
      TModbusServer Server;
      Connection.SetPort(FPort);
      Connection.SetConnectionMode(cmServer);
      Connection.SetBaudRate(br115200);
      Connection.SetParity(psNone);
      Connection.OnInvalidFrameDiscard = [this](TModbusConnection&) { ++FInvalidFrames; };
      Server.SetConnection(&Connection);
      Server.OnAcceptCommand = [](TModbusServer&, std::uint8_t, bool& Accept) { Accept = true; };
      Server.OnCanReadHoldingRegister = [](TModbusServer&, std::uint16_t, bool& Allow) {
        Allow = true;
      };
      Server.OnGetHoldingRegisterValue = [](TModbusServer&, std::uint16_t Item,
                                            std::uint16_t& Value) {
        Value = static_cast<std::uint16_t>(Item * 3);
      };
      Connection.Open();
      FSilence = Connection.RealSilentInterval();
      Signal();
      while (!FStop)
        DefaultMainThread().ProcessMessagesUntil([this] { return FStop.load(); },
                                                 std::chrono::milliseconds(50));
      Connection.Close();
    } catch (const std::exception& E) {
      FError = E.what();
      Signal();
    }
  }
  void Signal() {
    std::lock_guard<std::mutex> Lock(FLock);
    FReady = true;
    FChanged.notify_all();
  }

  std::string FPort;
  std::string FError;
  std::uint32_t FSilence = 0;
  std::atomic<int> FInvalidFrames{0};
  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FReady = false;
  std::thread FThread;
};

std::vector<std::uint8_t> ReadQuery(std::uint8_t Address, std::uint16_t Start,
                                    std::uint16_t Count) {
  std::vector<std::uint8_t> Frame{Address,
                                  3,
                                  static_cast<std::uint8_t>(Start >> 8),
                                  static_cast<std::uint8_t>(Start),
                                  static_cast<std::uint8_t>(Count >> 8),
                                  static_cast<std::uint8_t>(Count)};
  std::uint16_t Crc = 0xFFFF;
  for (const std::uint8_t Byte : Frame) {
    Crc ^= Byte;
    for (int Bit = 0; Bit < 8; ++Bit) Crc = (Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1;
  }
  Frame.push_back(static_cast<std::uint8_t>(Crc & 0xFF));
  Frame.push_back(static_cast<std::uint8_t>(Crc >> 8));
  return Frame;
}

void BM_LibmodbusReads125(benchmark::State& State) {
  serialtest::TPtyBridge Bridge;
  TSlaveHost Host(Bridge.PathA());
  if (Host.Failed()) {
    State.SkipWithError(Host.Error().c_str());
    return;
  }
  const int Far = ::open(Bridge.PathB().c_str(), O_RDWR | O_NOCTTY);
  const bool Listening = Far >= 0 && Host.WaitUntilListening(Far);
  if (Far >= 0) ::close(Far);
  if (!Listening) {
    State.SkipWithError("the slave loop did not start listening");
    return;
  }
  modbus_t* Master = modbus_new_rtu(Bridge.PathB().c_str(), 115200, 'N', 8, 1);
  if (Master == nullptr || modbus_set_slave(Master, 1) != 0 || modbus_connect(Master) != 0) {
    State.SkipWithError("libmodbus could not open the pty");
    if (Master) modbus_free(Master);
    return;
  }
  modbus_set_response_timeout(Master, 2, 0);
  std::uint16_t Registers[125];
  for (auto _ : State) {
    if (modbus_read_registers(Master, 0, 125, Registers) != 125) {
      State.SkipWithError(modbus_strerror(errno));
      break;
    }
    if (Registers[124] != 124 * 3) {
      State.SkipWithError("wrong register value");
      break;
    }
  }
  State.counters["queries_per_second"] =
      benchmark::Counter(static_cast<double>(State.iterations()), benchmark::Counter::kIsRate);
  modbus_close(Master);
  modbus_free(Master);
}
BENCHMARK(BM_LibmodbusReads125)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_ReplyLatencyBeyondSilence(benchmark::State& State) {
  int MasterFd = -1;
  int SlaveFd = -1;
  char Name[256] = {};
  termios Raw{};
  cfmakeraw(&Raw);
  Raw.c_cc[VMIN] = 1;
  if (openpty(&MasterFd, &SlaveFd, Name, &Raw, nullptr) != 0) {
    State.SkipWithError("openpty failed");
    return;
  }
  {
    TSlaveHost Host(Name);
    if (Host.Failed() || !Host.WaitUntilListening(MasterFd)) {
      State.SkipWithError("the slave did not start");
    } else {
      const std::vector<std::uint8_t> Query = ReadQuery(1, 0, 125);
      const std::size_t ReplySize = 3 + 250 + 2;
      double Total = 0;
      double Shortest = 1e9;
      double Longest = -1e9;
      for (auto _ : State) {
        if (::write(MasterFd, Query.data(), Query.size()) != static_cast<ssize_t>(Query.size())) {
          State.SkipWithError("write failed");
          break;
        }
        const auto Sent = TClock::now();
        pollfd Poll{MasterFd, POLLIN, 0};
        if (::poll(&Poll, 1, 2000) <= 0) {
          State.SkipWithError("no reply");
          break;
        }
        const auto FirstByte = TClock::now();
        std::uint8_t Reply[512];
        std::size_t Got = 0;
        while (Got<ReplySize&& ::poll(&Poll, 1, 500)> 0) {
          const ssize_t Count = ::read(MasterFd, Reply + Got, sizeof Reply - Got);
          if (Count <= 0) break;
          Got += static_cast<std::size_t>(Count);
        }
        if (Got != ReplySize) {
          State.SkipWithError("incomplete reply");
          break;
        }
        const double Excess = std::chrono::duration<double>(FirstByte - Sent).count() -
                              Host.SilentInterval() / 1000.0;
        Total += Excess;
        Shortest = std::min(Shortest, Excess);
        Longest = std::max(Longest, Excess);
        State.SetIterationTime(std::chrono::duration<double>(FirstByte - Sent).count());
      }
      State.counters["silent_interval_ms"] = Host.SilentInterval();
      State.counters["min_beyond_silence_ms"] = 1000.0 * Shortest;
      State.counters["max_beyond_silence_ms"] = 1000.0 * Longest;
      State.counters["mean_beyond_silence_ms"] =
          State.iterations() ? 1000.0 * Total / static_cast<double>(State.iterations()) : 0;
    }
  }
  ::close(MasterFd);
  ::close(SlaveFd);
}
BENCHMARK(BM_ReplyLatencyBeyondSilence)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
