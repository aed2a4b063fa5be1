// Reads of 125 holding registers over a pty bridge from a libmodbus RTU slave, at the
// connection's default settings (19200 bit/s, even parity, a silent interval of 4 characters,
// which comes to the 16 ms minimum). The same slave then serves libmodbus's own RTU master.
//
// This library ends a reply frame when the line has been silent for the silent interval, so
// every transaction costs at least 16 ms; "beyond_silence_ms" is what remains above that.
// libmodbus computes the reply's length from its function code and byte count and stops
// reading as soon as those bytes are in, so it never waits for silence; so does this library
// with its frame end by predicted length (BM_ModLinkClientRead125/1), which is compared with
// libmodbus's master in the same run.
// Run: modlink_client_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <modbus.h>

#include <chrono>
#include <memory>
#include <optional>

#include "LibmodbusRtuServer.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "PtyBridge.h"
#include "platform/MainThread.h"

namespace {

constexpr int Slave = 1;
constexpr int RegCount = 125;

struct TLine {
  serialtest::TPtyBridge Bridge;
  interop::TLibmodbusRtuServer Server{Bridge.PathB(), Slave};
};

double MillisecondsPer(std::chrono::steady_clock::time_point Begin,
                       benchmark::IterationCount Count) {
  const std::chrono::duration<double, std::milli> Elapsed =
      std::chrono::steady_clock::now() - Begin;
  return Count > 0 ? Elapsed.count() / static_cast<double>(Count) : 0.0;
}

TLine& Line() {
  static TLine Instance;
  return Instance;
}

// Argument 0: frames end at the line's silence; 1: by their predicted length.
void BM_ModLinkClientRead125(benchmark::State& State) {
  TModbusConnection Connection;
  TModbusClient Client;
  Connection.SetPort(Line().Bridge.PathA());
  Connection.SetFrameEndByLength(State.range(0) != 0);
  Client.SetConnection(&Connection);
  Client.SetServerAddress(Slave);
  std::optional<TServerReply> Reply;
  Client.OnHoldingRegistersRead = [&](auto&, const TTransactionInfo& Info, auto, auto, auto&) {
    Reply = Info.Reply;
  };
  Connection.Open();
  const std::uint32_t Silence = Connection.RealSilentInterval();
  int Failures = 0;
  const auto Begin = std::chrono::steady_clock::now();
  for (auto _ : State) {
    Reply.reset();
    Client.ReadHoldingRegisters(0, RegCount);
    DefaultMainThread().ProcessMessagesUntil([&] { return Reply.has_value(); },
                                             std::chrono::seconds(5));
    if (Reply != srNormalReply) ++Failures;
  }
  const double PerTransaction = MillisecondsPer(Begin, State.iterations());
  Connection.Close();
  State.SetItemsProcessed(State.iterations());
  State.counters["failures"] = Failures;
  State.counters["ms_per_transaction"] = PerTransaction;
  State.counters["beyond_silence_ms"] = PerTransaction - Silence;
}

void BM_LibmodbusMasterRead125(benchmark::State& State) {
  modbus_t* Context = modbus_new_rtu(Line().Bridge.PathA().c_str(), 19200, 'E', 8, 1);
  modbus_set_slave(Context, Slave);
  if (modbus_connect(Context) != 0) {
    State.SkipWithError("libmodbus cannot open the line");
    modbus_free(Context);
    return;
  }
  std::uint16_t Values[RegCount];
  int Failures = 0;
  const auto Begin = std::chrono::steady_clock::now();
  for (auto _ : State)
    if (modbus_read_registers(Context, 0, RegCount, Values) != RegCount) ++Failures;
  const double PerTransaction = MillisecondsPer(Begin, State.iterations());
  modbus_close(Context);
  modbus_free(Context);
  State.SetItemsProcessed(State.iterations());
  State.counters["failures"] = Failures;
  State.counters["ms_per_transaction"] = PerTransaction;
}

BENCHMARK(BM_ModLinkClientRead125)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);
BENCHMARK(BM_LibmodbusMasterRead125)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
