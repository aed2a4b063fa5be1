// kq517mon clipped onto a pseudo-terminal bus between two independent peers:
// a pymodbus serial master running a fixed list of requests and a pymodbus
// serial slave answering them. The monitor must show every query and reply
// the master saw, mark noise as invalid, and close with the statistics.
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProgram.h"
#include "FrameBytes.h"
#include "PtyBridge.h"
#include "RequirePeer.h"

namespace {

using namespace std::chrono_literals;

struct TMonitorRun {
  const char* Mode;    // rtu or ascii, for all three parties
  const char* Format;  // text or jsonl
};

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> lines;
  std::istringstream in(Text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

int CountWith(const std::vector<std::string>& Lines, const std::string& Text) {
  int n = 0;
  for (const std::string& line : Lines) n += line.find(Text) != std::string::npos;
  return n;
}

// A frame with a wrong check: RTU with its CRC's last byte changed, ASCII
// with its LRC's.
serialtest::TBytes Noise(const std::string& Mode) {
  if (Mode == "ascii") {
    const std::string text = ":01030000000AF3\r\n";
    return {text.begin(), text.end()};
  }
  return {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCE};
}

void PrintTo(const TMonitorRun& Run, std::ostream* Out) {
  *Out << Run.Mode << ' ' << Run.Format;
}

class MonitorInteropTest : public ::testing::TestWithParam<TMonitorRun> {};

TEST_P(MonitorInteropTest, ShowsEveryQueryAndReplyBetweenIndependentPeers) {
  KQ_REQUIRE_PEER(kq_peer::PythonImports(PYTHON3, "pymodbus.client, pymodbus.server, serial"),
                  "pymodbus", "python3-pymodbus python3-serial python3-serial-asyncio");
  const std::string mode = GetParam().Mode;
  const bool jsonl = std::string(GetParam().Format) == "jsonl";
  serialtest::TPtyBridge bus(true);  // A the master, B the slave
  TServerProgram monitor(
      {KQ517MON_PATH, "--serial", bus.MonitorPath(), "--mode", mode, "--format", GetParam().Format},
      ::testing::TempDir());
  ASSERT_TRUE(monitor.WaitForErrorText("Ctrl-C stops")) << "the monitor did not start";
  TServerProgram slave(
      {PYTHON3, PYMODBUS_SERVER, "--data", "pattern", "--framer", mode, bus.PathB()},
      ::testing::TempDir());
  std::this_thread::sleep_for(
      1500ms);  // the slave opens its port; a request before that is counted as such
  const TProgramResult master = RunProgram(
      {PYTHON3, PYMODBUS_CLIENT, "--framer", mode, bus.PathA()}, ::testing::TempDir(), 60s);
  ASSERT_EQ(master.exitStatus, 0) << master.out << master.err;
  // The line goes quiet before the noise, so the noise is a frame of its own
  // (the master may exit sooner than a frame's silence after its last reply).
  std::this_thread::sleep_for(100ms);
  bus.NoiseToMonitor(Noise(mode));
  std::this_thread::sleep_for(300ms);  // the monitor takes the noise in before it is stopped
  slave.Stop(SIGKILL);
  const TProgramResult seen = monitor.Stop(SIGINT);
  ASSERT_EQ(seen.exitStatus, 0) << seen.err;

  // The master made one request per line it printed; each got a reply or an
  // exception unless it reports an error.
  const std::vector<std::string> asked = Lines(master.out);
  const int answered = static_cast<int>(asked.size()) - CountWith(asked, ": error");
  const int exceptions = CountWith(asked, ": exception");
  const std::vector<std::string> frames = Lines(seen.out);
  ASSERT_EQ(static_cast<int>(frames.size()), static_cast<int>(asked.size()) + answered + 1)
      << seen.out;
  if (jsonl) {
    int requests = 0, invalid = 0;
    for (const std::string& line : frames) {
      const auto frame = nlohmann::json::parse(line);
      requests += frame["role"] == "request";
      invalid += frame["valid"] == false;
    }
    EXPECT_EQ(requests, static_cast<int>(asked.size()));
    EXPECT_EQ(invalid, 1);
  } else {
    EXPECT_EQ(CountWith(frames, "  slave 1 "), static_cast<int>(asked.size())) << seen.out;
    EXPECT_EQ(CountWith(frames, "slave 1 read holding registers 100+5"), 1) << seen.out;
    EXPECT_EQ(CountWith(frames, "slave 1 write multiple registers 50+3"), 1) << seen.out;
    EXPECT_EQ(CountWith(frames,
                        "invalid frame: " + std::string(mode == "rtu" ? "CRC" : "LRC") + " error"),
              1)
        << seen.out;
  }
  const std::string stats = "requests " + std::to_string(asked.size()) + ", replies " +
                            std::to_string(answered - exceptions) + ", time-outs 0, exceptions " +
                            std::to_string(exceptions) + ", frame errors 1, response ms min ";
  EXPECT_NE(seen.err.find(stats), std::string::npos) << seen.err;
}

INSTANTIATE_TEST_SUITE_P(Runs, MonitorInteropTest,
                         ::testing::Values(TMonitorRun{"rtu", "text"}, TMonitorRun{"ascii", "text"},
                                           TMonitorRun{"rtu", "jsonl"}),
                         [](const auto& Info) {
                           return std::string(Info.param.Mode) + "_" + Info.param.Format;
                         });

// With --fast-framing a query and its reply 2 ms apart are two frames, and a stray byte
// 2 ms later is a frame of its own. Ended by the silence, all three would run together
// into one invalid frame that no split into sound frames can explain.
TEST(MonitorFastFraming, SeparatesAQueryAndItsReplyTwoMillisecondsApart) {
  serialtest::TPtyPair line;
  TServerProgram monitor(
      {KQ517MON_PATH, "--serial", line.Path(), "--fast-framing", "--format", "jsonl"},
      ::testing::TempDir());
  ASSERT_TRUE(monitor.WaitForErrorText("frames end by length")) << "the monitor did not start";
  // Lone bytes until one comes out as a frame: the monitor is past its purge at start.
  bool listening = false;
  for (int attempt = 0; attempt < 20 && !listening; ++attempt) {
    line.Write(serialtest::TBytes{0x00});
    listening = !monitor.WaitForLine("{", 500ms).empty();
  }
  ASSERT_TRUE(listening);

  line.Write(serialtest::Rtu({1, 3, 0, 0, 0, 2}));
  std::this_thread::sleep_for(2ms);
  line.Write(serialtest::Rtu({1, 3, 4, 0, 1, 0, 2}));
  std::this_thread::sleep_for(2ms);
  line.Write(serialtest::TBytes{0x01});
  // A lone byte still on its way may be reported before the query: it is passed over.
  std::vector<nlohmann::json> frames;
  for (int i = 0; i < 25 && frames.size() < 3; ++i) {
    const std::string rest = monitor.WaitForLine("{");
    if (rest.empty()) break;
    const auto frame = nlohmann::json::parse("{" + rest);
    if (!frames.empty() || frame["role"] == "request") frames.push_back(frame);
  }
  monitor.Stop(SIGINT);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0]["role"], "request");
  EXPECT_EQ(frames[0]["valid"], true);
  EXPECT_EQ(frames[1]["role"], "reply");
  EXPECT_EQ(frames[1]["valid"], true);
  EXPECT_EQ(frames[2]["valid"], false);
}

// What runs together on the line, or is no frame at all, is kept: every frame
// of a run without gaps is shown, and each run of noise is one invalid frame
// of bounded size, counted.
struct TLineRun {
  const char* Name;
  const char* Mode;
  serialtest::TBytes Bytes;  // written at once
  int Valid, Invalid;
};

void PrintTo(const TLineRun& Run, std::ostream* Out) {
  *Out << Run.Name;
}

serialtest::TBytes Joined(std::initializer_list<serialtest::TBytes> Parts) {
  serialtest::TBytes all;
  for (const auto& part : Parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

serialtest::TBytes Text(const std::string& Chars) {
  return {Chars.begin(), Chars.end()};
}

serialtest::TBytes Repeated(const serialtest::TBytes& Part, int Times) {
  serialtest::TBytes all;
  for (int i = 0; i < Times; ++i) all.insert(all.end(), Part.begin(), Part.end());
  return all;
}

class MonitorKeepsTheLine : public ::testing::TestWithParam<TLineRun> {};

TEST_P(MonitorKeepsTheLine, ShowingEveryFrameAndEachRunOfNoise) {
  const TLineRun& run = GetParam();
  serialtest::TPtyPair line;
  TServerProgram monitor(
      {KQ517MON_PATH, "--serial", line.Path(), "--mode", run.Mode, "--format", "jsonl"},
      ::testing::TempDir());
  ASSERT_TRUE(monitor.WaitForErrorText("Ctrl-C stops")) << "the monitor did not start";
  // A lone byte until one comes out as a line: the monitor is past its purge at start.
  int probes = 0;
  for (bool listening = false; !listening && probes < 20; ++probes) {
    line.Write(serialtest::TBytes{0x00});
    listening = !monitor.WaitForLine("{", 1500ms).empty();
  }
  ASSERT_LT(probes, 20);
  std::this_thread::sleep_for(50ms);  // a probe still on its way is a line of its own
  line.Write(run.Bytes);
  int valid = 0, invalid = 0;
  for (int i = 0; i < run.Valid + run.Invalid; ++i) {
    const std::string rest = monitor.WaitForLine("{", 5s);
    if (rest.empty()) break;
    EXPECT_LT(rest.size(), 2000u);  // a line of the noise, not all of it
    const auto frame = nlohmann::json::parse("{" + rest);
    (frame["valid"] == true ? valid : invalid)++;
  }
  const TProgramResult seen = monitor.Stop(SIGINT);
  EXPECT_EQ(valid, run.Valid) << seen.out;
  EXPECT_EQ(invalid, run.Invalid) << seen.out;
  EXPECT_NE(seen.err.find(", frame errors "), std::string::npos) << seen.err;
}

const serialtest::TBytes QUERY = serialtest::Rtu({1, 3, 0, 0, 0, 10});

INSTANTIATE_TEST_SUITE_P(
    Runs, MonitorKeepsTheLine,
    ::testing::Values(
        TLineRun{
            "RtuRepliesAndAQueryRunningTogether", "rtu",
            Joined({serialtest::Rtu(Joined({{1, 3, 202}, serialtest::TBytes(202, 0x11)})), QUERY,
                    serialtest::Rtu(Joined({{1, 3, 142}, serialtest::TBytes(142, 0x22)}))}),
            3, 0},
        TLineRun{"RtuHundredQueriesBackToBack", "rtu", Repeated(QUERY, 100), 100, 0},
        TLineRun{"AsciiPartialFrameBeforeAFrame", "ascii",
                 Joined({Text(":0103000A"), serialtest::Ascii({1, 3, 0, 0, 0, 10})}), 1, 1},
        TLineRun{"AsciiStrayRtuBytesBeforeAFrame", "ascii",
                 Joined({QUERY, serialtest::Ascii({1, 3, 0, 0, 0, 10})}), 1, 1},
        TLineRun{"AsciiMegabyteOfColonsBeforeAFrame", "ascii",
                 Joined({Text(std::string(1 << 20, ':')), serialtest::Ascii({1, 3, 0, 0, 0, 10})}),
                 1, 1}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
