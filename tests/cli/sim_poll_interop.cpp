// kq517sim against independent readers: the tool's headless poller and
// mbpoll read the simulator over Modbus TCP on loopback, and what they decode
// must be exactly what the simulator says it served (--dump, same frozen
// clock).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProgram.h"
#include "LoopbackPorts.h"
#include "RequirePeer.h"

namespace {

namespace fs = std::filesystem;
using Row = std::vector<std::string>;
using Table = std::vector<Row>;

constexpr char CLOCK[] = "2026-12-08T10:20:30";
constexpr char TCP_LINE[] = "kq517sim: Modbus TCP on 127.0.0.1:";
const char* const BYTE_ORDERS[] = {"1-0-3-2", "0-1-2-3", "2-3-0-1", "3-2-1-0"};

const std::string SIM = KQ517SIM;
const std::string POLL = KQ517POLL;  // empty when the poller is not built

std::string FolderOf(const std::string& program) {
  return fs::path(program).parent_path();
}

// RFC 4180 records, one per line (no line breaks inside fields here).
Table ParseCsv(const std::string& text) {
  Table table;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Row row(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char ch = line[i];
      if (quoted) {
        if (ch == '"' && i + 1 < line.size() && line[i + 1] == '"') {
          row.back() += '"';
          ++i;
        } else if (ch == '"') {
          quoted = false;
        } else {
          row.back() += ch;
        }
      } else if (ch == '"') {
        quoted = true;
      } else if (ch == ',') {
        row.emplace_back();
      } else {
        row.back() += ch;
      }
    }
    table.push_back(row);
  }
  return table;
}

bool HasProgram(const std::string& path) {
  return !path.empty() && fs::exists(path);
}

class SimInterop : public ::testing::Test {
 public:
  void StartSim(std::vector<std::string> options) {
    std::vector<std::string> argv{SIM, "--tcp", "127.0.0.1:0"};
    argv.insert(argv.end(), options.begin(), options.end());
    sim = std::make_unique<TServerProgram>(argv, FolderOf(SIM));
    port = sim->WaitForLine(TCP_LINE);
    ASSERT_FALSE(port.empty()) << "the simulator did not start";
  }

  // The pseudo-terminal the simulator serves RTU on, from its start-up lines.
  std::string PtyPath() {
    const std::string rest = sim->WaitForLine("kq517sim: Modbus RTU on ");
    return rest.substr(0, rest.find(' '));
  }

  Table Dump(std::vector<std::string> options) {
    std::vector<std::string> argv{SIM, "--dump"};
    argv.insert(argv.end(), options.begin(), options.end());
    const TProgramResult r = RunProgram(argv, FolderOf(SIM));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return ParseCsv(r.out);
  }

  // One CSV poll over a transport (its options first).
  TProgramResult PollOver(const std::vector<std::string>& transport,
                          const std::vector<std::string>& options) {
    std::vector<std::string> argv{POLL};
    argv.insert(argv.end(), transport.begin(), transport.end());
    argv.insert(argv.end(), {"--format", "csv"});
    argv.insert(argv.end(), options.begin(), options.end());
    return RunProgram(argv, FolderOf(POLL));
  }

  Table Poll(std::vector<std::string> options) {
    const TProgramResult r = PollOver({"--tcp", "127.0.0.1:" + port}, options);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return ParseCsv(r.out);
  }

  // Poller columns: address, type, OBIS, value, raw, description.
  // Dump columns:   address, type, OBIS, value, raw.
  static void ExpectSameRows(const Table& polled, const Table& served, bool instanceOn) {
    ASSERT_EQ(polled.size(), served.size());
    for (std::size_t i = 1; i < served.size(); ++i) {
      SCOPED_TRACE("row " + std::to_string(i) + " OBIS " + served[i].at(2));
      ASSERT_EQ(polled[i].size(), 6u);
      EXPECT_EQ(polled[i][0], served[i][0]);
      EXPECT_EQ(polled[i][1], served[i][1]);
      EXPECT_EQ(polled[i][2], served[i][2]);
      if (instanceOn) {
        EXPECT_EQ(polled[i][3], served[i][3]);
      }
      EXPECT_EQ(polled[i][4], served[i][4]);
    }
  }

  std::unique_ptr<TServerProgram> sim;
  std::string port;
};

class PollerReadsWhatWasServed : public SimInterop,
                                 public ::testing::WithParamInterface<const char*> {};

// Polls every instance in both layouts through `poll` and compares with the
// dump; instance 3 is switched off. Its firmware word reads 0xFFFF: over
// either path the poller shows "<N/A>" for its values and fails the cycle.
void ExpectEveryInstanceAsServed(
    SimInterop& test, const std::string& order,
    const std::function<TProgramResult(std::vector<std::string>)>& poll) {
  for (int meter = 1; meter <= 5; ++meter) {
    for (bool float32 : {false, true}) {
      SCOPED_TRACE("meter " + std::to_string(meter) + (float32 ? " float32" : ""));
      const bool on = meter != 3;
      std::vector<std::string> options{"--meter", std::to_string(meter), "--byte-order", order};
      if (float32) options.push_back("--float32");
      std::vector<std::string> dumpOptions = options;
      dumpOptions.insert(dumpOptions.end(), {"--clock", CLOCK, "--meters", "1,2,4,5"});
      const Table served = test.Dump(dumpOptions);
      const TProgramResult r = poll(options);
      ASSERT_EQ(r.exitStatus, on ? 0 : 1) << r.err;
      const Table polled = ParseCsv(r.out);
      SimInterop::ExpectSameRows(polled, served, on);
      ASSERT_GT(polled.size(), 2u);
      if (on) {
        EXPECT_EQ(polled[1][3], "103");  // firmware version word
      } else {
        for (std::size_t i = 1; i < polled.size(); ++i) {
          EXPECT_EQ(polled[i][3], "<N/A>");
        }
      }
    }
  }
}

TEST_P(PollerReadsWhatWasServed, EveryInstanceInBothLayoutsOverTcp) {
  ASSERT_TRUE(HasProgram(POLL)) << "kq517poll was not built";
  const std::string order = GetParam();
  StartSim({"--clock", CLOCK, "--byte-order", order, "--meters", "1,2,4,5"});
  ExpectEveryInstanceAsServed(*this, order, [&](std::vector<std::string> options) {
    return PollOver({"--tcp", "127.0.0.1:" + port}, options);
  });
}

TEST_P(PollerReadsWhatWasServed, EveryInstanceInBothLayoutsOverThePseudoTerminal) {
  ASSERT_TRUE(HasProgram(POLL)) << "kq517poll was not built";
  const std::string order = GetParam();
  // Both ends with frames ended by their length (the serial poller's own interop test
  // covers the silence).
  StartSim({"--clock", CLOCK, "--byte-order", order, "--meters", "1,2,4,5", "--fast-framing"});
  const std::vector<std::string> serial{"--serial", PtyPath(),  "--baud",
                                        "115200",   "--parity", "none",
                                        "--slave",  "1",        "--fast-framing"};
  ExpectEveryInstanceAsServed(
      *this, order, [&](std::vector<std::string> options) { return PollOver(serial, options); });
}

INSTANTIATE_TEST_SUITE_P(AllByteOrders, PollerReadsWhatWasServed, ::testing::ValuesIn(BYTE_ORDERS));

TEST_F(SimInterop, PollerReadsTheQvztMap) {
  ASSERT_TRUE(HasProgram(POLL)) << "kq517poll was not built";
  StartSim({"--clock", CLOCK, "--qvzt"});
  for (int meter = 1; meter <= 5; ++meter) {
    SCOPED_TRACE("meter " + std::to_string(meter));
    const std::string m = std::to_string(meter);
    const Table served = Dump({"--qvzt", "--meter", m, "--clock", CLOCK});
    ExpectSameRows(Poll({"--qvzt", "--meter", m}), served, true);
    EXPECT_EQ(served.at(1).at(2), "1-0:32.7.0");  // no firmware word in the QVZT map
  }
}

TEST_F(SimInterop, ValuesMoveWithTheClock) {
  ASSERT_TRUE(HasProgram(POLL)) << "kq517poll was not built";
  StartSim({});
  auto clockText = [&] {
    for (const Row& row : Poll({})) {
      if (row.size() == 6 && row[1] == "INT32" && row[3].size() == 8 && row[3][2] == ':') {
        return row[3];
      }
    }
    return std::string();
  };
  const std::string first = clockText();
  ASSERT_FALSE(first.empty()) << "the map has no time entry";
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_NE(clockText(), first);
}

// The words of one dump row, first register first, from its raw text (the
// bytes printed from the last to the first).
std::vector<unsigned> WordsOf(const std::string& raw) {
  std::vector<unsigned> words;
  for (std::size_t at = raw.size(); at >= 4; at -= 4) {
    const auto lo = static_cast<unsigned>(std::stoul(raw.substr(at - 4, 2), nullptr, 16));
    const auto hi = static_cast<unsigned>(std::stoul(raw.substr(at - 2, 2), nullptr, 16));
    words.push_back(hi << 8 | lo);
  }
  return words;
}

// "[1203]: 	0x4366" lines of mbpoll's output, by address.
std::map<unsigned, unsigned> MbpollRegisters(const std::string& out) {
  std::map<unsigned, unsigned> regs;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    unsigned address = 0, value = 0;
    if (std::sscanf(line.c_str(), "[%u]: 0x%x", &address, &value) == 2) regs[address] = value;
  }
  return regs;
}

const std::string MBPOLL = "/usr/bin/mbpoll";

// mbpoll reads instance 2 in both layouts, holding and input registers, over
// one transport (its options and target come first), and must see the words
// the simulator says it served; then an address outside the map and a coil
// read must come back as the matching exceptions.
void ExpectMbpollReadsWhatWasServed(SimInterop& test, const std::vector<std::string>& transport,
                                    const std::string& target) {
  auto mbpoll = [&](std::vector<std::string> options) {
    std::vector<std::string> argv{MBPOLL};
    argv.insert(argv.end(), transport.begin(), transport.end());
    argv.insert(argv.end(), {"-a", "1", "-0", "-1"});
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(target);
    return RunProgram(argv, "/");
  };
  for (bool float32 : {false, true}) {
    std::vector<std::string> dumpOptions{"--meter", "2",       "--byte-order",
                                         "2-3-0-1", "--clock", CLOCK};
    if (float32) dumpOptions.push_back("--float32");
    const Table served = test.Dump(dumpOptions);
    const unsigned base = float32 ? 1200 : 1000;
    for (const char* table : {"4:hex", "3:hex"}) {  // holding, then input registers
      SCOPED_TRACE(std::string(table) + (float32 ? " float32" : ""));
      const TProgramResult r = mbpoll({"-t", table, "-r", std::to_string(base), "-c", "60"});
      const auto regs = MbpollRegisters(r.out);
      ASSERT_EQ(regs.size(), 60u) << r.out << r.err;
      for (std::size_t i = 1; i < served.size(); ++i) {
        const auto address = static_cast<unsigned>(std::stoul(served[i][0]));
        const auto words = WordsOf(served[i][4]);
        for (std::size_t k = 0; k < words.size() && address + k < base + 60; ++k) {
          EXPECT_EQ(regs.at(address + static_cast<unsigned>(k)), words[k]) << address + k;
        }
      }
    }
  }
  const TProgramResult outside = mbpoll({"-r", "600", "-c", "1"});
  EXPECT_NE((outside.out + outside.err).find("Illegal data address"), std::string::npos);
  const TProgramResult coils = mbpoll({"-t", "0", "-r", "0", "-c", "1"});
  EXPECT_NE((coils.out + coils.err).find("Illegal function"), std::string::npos);
}

TEST_F(SimInterop, MbpollReadsTheSameRegistersOverTcp) {
  KQ_REQUIRE_PEER(HasProgram(MBPOLL), "mbpoll", "mbpoll");
  StartSim({"--clock", CLOCK, "--byte-order", "2-3-0-1"});
  ExpectMbpollReadsWhatWasServed(*this, {"-m", "tcp", "-p", port}, "127.0.0.1");
}

TEST_F(SimInterop, MbpollReadsTheSameRegistersOverThePseudoTerminal) {
  KQ_REQUIRE_PEER(HasProgram(MBPOLL), "mbpoll", "mbpoll");
  StartSim({"--clock", CLOCK, "--byte-order", "2-3-0-1"});
  const std::string pty = PtyPath();
  ASSERT_FALSE(pty.empty());
  ExpectMbpollReadsWhatWasServed(*this, {"-m", "rtu", "-b", "115200", "-P", "none"}, pty);
}

// A connected TCP socket to the simulator, with a generous receive time-out.
int ConnectTo(const std::string& port) {
  const int fd = ConnectLoopback(static_cast<std::uint16_t>(std::stoi(port)));
  if (fd < 0) return -1;
  const timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

// Reads the firmware word of instance 1 over a fresh connection.
int FirmwareWord(const std::string& port) {
  const int fd = ConnectTo(port);
  if (fd < 0) return -1;
  const std::uint8_t request[] = {0, 7, 0, 0, 0, 6, 0, 3, 0, 0, 0, 1};
  std::uint8_t reply[11] = {};
  std::size_t got = 0;
  if (::send(fd, request, sizeof request, MSG_NOSIGNAL) == sizeof request) {
    while (got < sizeof reply) {
      const ssize_t n = ::recv(fd, reply + got, sizeof reply - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  return got == sizeof reply ? reply[9] << 8 | reply[10] : -1;
}

long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(SimInterop, SurvivesMisbehavingClientsWithoutGrowing) {
  StartSim({"--frame-timeout", "100"});
  // 100 connections open at once; then each misbehaves in its own way and goes.
  auto round = [&] {
    std::vector<int> fds;
    for (int i = 0; i < 100; ++i) fds.push_back(ConnectTo(port));
    const std::uint8_t request[] = {0, 1, 0, 0, 0, 6, 0, 3, 0, 0, 0, 125};
    const std::uint8_t garbage[] = {0x47, 0x45, 0x54, 0x20, 0x2F, 0x20, 0x48, 0x54, 0x54, 0x50};
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i] < 0) continue;
      switch (i % 4) {
        case 0:
          break;  // silent
        case 1:
          ::send(fds[i], request, 5, MSG_NOSIGNAL);
          break;  // half a frame
        case 2:
          ::send(fds[i], request, sizeof request, MSG_NOSIGNAL);
          break;  // never reads
        case 3:
          ::send(fds[i], garbage, sizeof garbage, MSG_NOSIGNAL);
          break;  // not Modbus
      }
    }
    for (int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
    return std::count(fds.begin(), fds.end(), -1) == 0;
  };
  ASSERT_TRUE(round());
  ASSERT_EQ(FirmwareWord(port), 103);
  const long before = ResidentKilobytes(sim->Pid());
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(round()) << "round " << i;
  EXPECT_EQ(FirmwareWord(port), 103);
  const long after = ResidentKilobytes(sim->Pid());
  ASSERT_GT(before, 0);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's quarantine keeps freed memory resident
  EXPECT_LT(after - before, 1024) << "resident size grew from " << before << " kB to " << after;
#endif
  const TProgramResult stopped = sim->Stop(SIGINT);
  EXPECT_EQ(stopped.exitStatus, 0) << stopped.err;
}

TEST_F(SimInterop, VerboseModeLogsOneLinePerRequest) {
  StartSim({"--verbose"});
  ASSERT_EQ(FirmwareWord(port), 103);
  const std::string line = sim->WaitForLine("tcp 127.0.0.1:");
  EXPECT_NE(line.find("unit 0 tid 7: read holding registers 0+1: 1 register"), std::string::npos)
      << line;
}

TEST_F(SimInterop, StopsCleanlyOnInterruptAndTerminate) {
  for (int signal : {SIGINT, SIGTERM}) {
    StartSim({});
    const TProgramResult r = sim->Stop(signal);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("kq517sim: stopped"), std::string::npos) << r.out;
  }
}

TEST_F(SimInterop, TellsTheUserWhatIsWrong) {
  const TProgramResult help = RunProgram({SIM, "--help"}, "/");
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.out.find("--byte-order"), std::string::npos);

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--meter", "6"},
                                             {"--byte-order", "1-2-3-4"},
                                             {"--tcp", "127.0.0.1:http"},
                                             {"--clock", "yesterday"},
                                             {"--serial", "ttyS0", "--pty"},
                                             {"--frobnicate"}}) {
    std::vector<std::string> argv{SIM};
    argv.insert(argv.end(), bad.begin(), bad.end());
    const TProgramResult r = RunProgram(argv, "/");
    EXPECT_EQ(r.exitStatus, 2) << bad.front();
    EXPECT_NE(r.err.find("kq517sim: "), std::string::npos);
  }

  StartSim({});
  const TProgramResult busy = RunProgram({SIM, "--tcp", "127.0.0.1:" + port}, FolderOf(SIM));
  EXPECT_EQ(busy.exitStatus, 1);
  EXPECT_NE(busy.err.find("cannot listen on 127.0.0.1:" + port), std::string::npos) << busy.err;

  const TProgramResult remote = RunProgram({SIM, "--tcp", "192.0.2.7:1502"}, FolderOf(SIM));
  EXPECT_EQ(remote.exitStatus, 1);
  EXPECT_NE(remote.err.find("not a loopback address"), std::string::npos) << remote.err;

  const TProgramResult noPort =
      RunProgram({SIM, "--no-tcp", "--serial", "/nonexistent/ttyX"}, FolderOf(SIM));
  EXPECT_EQ(noPort.exitStatus, 1);
  EXPECT_NE(noPort.err.find("cannot open the serial port /nonexistent/ttyX"), std::string::npos)
      << noPort.err;

  const fs::path folder = fs::temp_directory_path() / ("kq517sim_test_" + std::to_string(getpid()));
  fs::create_directories(folder);
  { std::ofstream(folder / "bad.cfg") << "1-0:1.8.0|X|energia\n"; }
  const TProgramResult invalid = RunProgram({SIM, "--map", "bad.cfg"}, folder.string());
  EXPECT_EQ(invalid.exitStatus, 1);
  EXPECT_NE(invalid.err.find("File di configurazione non valido"), std::string::npos);
  const TProgramResult missing = RunProgram({SIM, "--map", "none.cfg"}, folder.string());
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_NE(missing.err.find("cannot read the map file none.cfg"), std::string::npos)
      << missing.err;
  fs::remove_all(folder);
}

}  // namespace
