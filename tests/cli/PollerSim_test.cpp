// kq517poll against the simulated meter kq517sim, both run as programs on
// loopback: what reaches the device, and the metrics endpoint of a fleet.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "ChildProgram.h"
#include "LoopbackPorts.h"

namespace {

const std::string POLL = KQ517POLL_PATH;
const std::string FOLDER = std::filesystem::path(POLL).parent_path();

class PollerSim : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<TServerProgram>(
        std::vector<std::string>{KQ517SIM_PATH, "--tcp", "127.0.0.1:0", "--verbose"}, FOLDER);
    device = "127.0.0.1:" + sim->WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
    ASSERT_NE(device, "127.0.0.1:") << "the simulator did not start";
  }
  std::unique_ptr<TServerProgram> sim;
  std::string device;
};

TEST_F(PollerSim, TheUnitIdentifierReachesTheDevice) {
  const TProgramResult run =
      RunProgram({POLL, "--tcp", device, "--unit", "7", "--format", "jsonl"}, FOLDER);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(nlohmann::json::parse(run.out)["ok"]);
  EXPECT_NE(sim->WaitForLine("tcp 127.0.0.1:").find(" unit 7 tid "), std::string::npos);
}

TEST_F(PollerSim, ServesTheLatestCycleToPrometheusOnlyWhereTold) {
  const uint16_t port = FreePort();
  TServerProgram poller({POLL, "--tcp", device, "--interval", "0.1", "--format", "jsonl",
                         "--serve-metrics", "127.0.0.1:" + std::to_string(port)},
                        FOLDER);
  ASSERT_FALSE(poller.WaitForLine("{").empty()) << "no cycle ran";
  httplib::Client client("127.0.0.1", port);
  const auto metrics = client.Get("/metrics");
  ASSERT_TRUE(metrics) << "nothing listens on 127.0.0.1:" << port;
  EXPECT_EQ(metrics->status, 200);
  EXPECT_EQ(metrics->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const std::string& body = metrics->body;
  for (const char* sample :
       {"\nkq517_value{meter=\"1\",address=\"1\",obis=\"1-0:32.7.0\",description=\"Tensione "
        "istantanea "
        "fase L1 (V)\"} 2",
        "\nkq517_value{meter=\"1\",address=\"0\",obis=\"\",description=\"Versione Firmware "
        "VIVAR517\"} 103\n",
        "\nkq517_polls_total{result=\"failed\"} 0\n", "\nkq517_last_success_timestamp_seconds 1",
        "\nkq517_poll_duration_seconds 0."})
    EXPECT_NE(body.find(sample), std::string::npos) << sample << "\n" << body;
  EXPECT_EQ(body.find("Data corrente"), std::string::npos) << "a date is no sample";
  EXPECT_EQ(client.Get("/")->status, 404);
  // 127.0.0.2 is this machine too, but not the address it was told.
  EXPECT_FALSE(httplib::Client("127.0.0.2", port).Get("/metrics"));

  const TProgramResult stopped = poller.Stop(SIGTERM);
  EXPECT_EQ(stopped.exitStatus, 130) << "interrupted, not complete: " << stopped.err;
  std::istringstream lines(stopped.out);
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(nlohmann::json::accept(line)) << line;
}

// JSON Lines and the metrics carry the number the meter sent, where the grid
// shows two decimals: the simulator counts energies in watt-hours.
TEST_F(PollerSim, JsonLinesAndMetricsCarryTheFullPrecision) {
  TServerProgram frozen({KQ517SIM_PATH, "--tcp", "127.0.0.1:0", "--clock", "2026-12-08T10:20:30"},
                        FOLDER);
  const std::string at = "127.0.0.1:" + frozen.WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
  const TProgramResult run = RunProgram({POLL, "--tcp", at, "--format", "jsonl"}, FOLDER);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  // The energy's value as the line spells it: three decimals, its text two.
  const std::string key = R"("obis":"1-0:1.8.0","value":)";
  const auto at_value = run.out.find(key);
  ASSERT_NE(at_value, std::string::npos) << run.out;
  const std::string value = run.out.substr(
      at_value + key.size(), run.out.find(',', at_value + key.size()) - at_value - key.size());
  ASSERT_NE(value.find('.'), std::string::npos) << value;
  EXPECT_EQ(value.size() - value.find('.'), 4u) << value;
  const auto cycle = nlohmann::json::parse(run.out);
  for (const auto& row : cycle["rows"]) {
    if (row["obis"] != "1-0:1.8.0") continue;
    const std::string text = row["text"];
    EXPECT_EQ(text.size() - text.find('.'), 3u) << text;
  }

  const uint16_t port = FreePort();
  TServerProgram poller({POLL, "--tcp", at, "--interval", "0.1", "--format", "jsonl",
                         "--serve-metrics", "127.0.0.1:" + std::to_string(port)},
                        FOLDER);
  ASSERT_FALSE(poller.WaitForLine("{").empty()) << "no cycle ran";
  const auto metrics = httplib::Client("127.0.0.1", port).Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("obis=\"1-0:1.8.0\",description=\"Energia attiva importata totale "
                               "(kWh)\"} " +
                               value + "\n"),
            std::string::npos)
      << metrics->body;
}

TEST_F(PollerSim, AnAddressInUseIsReportedBeforePolling) {
  const uint16_t port = FreePort();
  TServerProgram first({POLL, "--tcp", device, "--serve-metrics",
                        "127.0.0.1:" + std::to_string(port), "--format", "jsonl"},
                       FOLDER);
  ASSERT_FALSE(first.WaitForLine("{").empty());
  const TProgramResult second = RunProgram(
      {POLL, "--tcp", device, "--serve-metrics", "127.0.0.1:" + std::to_string(port)}, FOLDER);
  EXPECT_EQ(second.exitStatus, 1);
  EXPECT_NE(second.err.find("cannot serve metrics on 127.0.0.1:" + std::to_string(port)),
            std::string::npos)
      << second.err;
  EXPECT_EQ(second.out, "");
}

}  // namespace

namespace {

// Ctrl-C ends the wait for a device that never answers at once (not after
// the reply time-out), the JSON array is still closed, and the status tells
// an interrupted run from a complete one.
TEST(PollerStop, ASignalEndsTheReplyWaitAtOnce) {
  // Connections complete in the listen queue; nothing ever answers them.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string silent = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  TServerProgram poller({POLL, "--tcp", silent, "--format", "json"}, FOLDER);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto stopping = std::chrono::steady_clock::now();
  const TProgramResult stopped = poller.Stop(SIGINT);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(3));
  EXPECT_EQ(stopped.exitStatus, 130) << stopped.err;
  EXPECT_TRUE(nlohmann::json::parse(stopped.out).is_array()) << stopped.out;
  ::close(listener);
}

}  // namespace
