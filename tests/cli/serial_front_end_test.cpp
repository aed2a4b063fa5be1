// The simulated meter as a serial slave: the request rules it answers with
// (shared with the TCP front end), and whole RTU and ASCII exchanges on its
// pseudo-terminal, driven from this thread as the main thread.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "MeterRegisters.h"
#include "PollableMainThread.h"
#include "RegisterMap.h"
#include "SerialFrontEnd.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

std::vector<TConfigRecord> SmallMap() {
  TRegisterMap map;
  map.LoadConfigFromBytes(mpNormal, "1-0:32.7.0|F|V\n1-0:1.8.0|F|E\n", TMapSettings{});
  return map.Regs();  // 9 registers, 5 in the 32-bit-float layout
}

Bytes Read(std::uint8_t function, unsigned start, unsigned count) {
  return {function, static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start),
          static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)};
}

// Modbus CRC-16 (polynomial 0xA001, initial 0xFFFF), low byte first on the line.
Bytes WithCrc(Bytes frame) {
  unsigned crc = 0xFFFF;
  for (std::uint8_t b : frame) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

std::string Text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// ":" + hex of the frame and its LRC + CR LF.
std::string AsciiFrame(const Bytes& frame) {
  unsigned sum = 0;
  std::string text = ":";
  char hex[3];
  for (std::uint8_t b : frame) {
    sum += b;
    std::snprintf(hex, sizeof hex, "%02X", b);
    text += hex;
  }
  std::snprintf(hex, sizeof hex, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return text + hex + "\r\n";
}

class SerialFrontEndTest : public ::testing::Test {
 protected:
  SerialFrontEndTest()
      : meter(SmallMap(), TSimulatedMeterSettings{}),
        clock(*ParseSimTime("2026-12-08T12:00:00")),
        registers(meter, clock) {
    InstallMainThread(&mainThread);
  }
  ~SerialFrontEndTest() override {
    if (line >= 0) ::close(line);
    serial.reset();
    InstallMainThread(nullptr);
  }

  void Open(bool ascii = false) {
    TSerialSettings settings;
    settings.ascii = ascii;
    settings.slaveAddress = 17;
    serial = std::make_unique<TSerialFrontEnd>(settings, registers);
    serial->Open();
    line = ::open(serial->Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(line, 0) << serial->Path();
    termios raw{};
    ::tcgetattr(line, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(line, TCSANOW, &raw);
    Settle(ascii);
  }

  // The slave's worker discards what is pending when it starts listening, so
  // a query sent at that moment may be lost: ask until the slave answers.
  void Settle(bool ascii) {
    const Bytes probe{17, 3, 0, 0, 0, 1};
    for (int attempt = 0; attempt < 20; ++attempt) {
      const std::string query = ascii ? AsciiFrame(probe) : Text(WithCrc(probe));
      if (!Exchange(query).empty()) return;
    }
    FAIL() << "the slave never answered";
  }

  // Sends raw bytes as a master would and collects what comes back until the
  // line has been quiet for a while, running the main-thread calls meanwhile.
  std::string Exchange(const std::string& query, std::chrono::milliseconds quiet = 300ms) {
    EXPECT_EQ(::write(line, query.data(), query.size()), static_cast<ssize_t>(query.size()));
    std::string reply;
    auto lastActivity = std::chrono::steady_clock::now();
    const auto limit = lastActivity + 10s;
    while (std::chrono::steady_clock::now() - lastActivity < quiet &&
           std::chrono::steady_clock::now() < limit) {
      pollfd fds[2] = {{line, POLLIN, 0}, {mainThread.WakeFd(), POLLIN, 0}};
      ::poll(fds, 2, 10);
      mainThread.RunPending();
      char buf[512];
      const ssize_t n = ::read(line, buf, sizeof buf);
      if (n > 0) {
        reply.append(buf, static_cast<std::size_t>(n));
        lastActivity = std::chrono::steady_clock::now();
      }
    }
    return reply;
  }
  std::string Exchange(const Bytes& query) { return Exchange(Text(query)); }

  TPollableMainThread mainThread;
  TSimulatedMeter meter;
  TSimClock clock;
  TMeterRegisters registers;
  std::unique_ptr<TSerialFrontEnd> serial;
  int line = -1;
};

}  // namespace

TEST_F(SerialFrontEndTest, HoldingAndInputReadsServeTheSameRegisters) {
  Open();
  const Bytes holding = serial->AnswerPdu(Read(3, 1000, 9));
  ASSERT_EQ(holding.size(), 2u + 18u);
  EXPECT_EQ(holding[0], 3);
  EXPECT_EQ(holding[1], 18);
  EXPECT_EQ((holding[2] << 8) | holding[3], 103);  // firmware word
  const Bytes input = serial->AnswerPdu(Read(4, 1000, 9));
  ASSERT_EQ(input.size(), holding.size());
  EXPECT_EQ(input[0], 4);
  EXPECT_TRUE(std::equal(holding.begin() + 1, holding.end(), input.begin() + 1));
  EXPECT_EQ(serial->AnswerPdu(Read(3, 4200, 5)).size(), 2u + 10u);
}

TEST_F(SerialFrontEndTest, RefusesWhatTheMeterDoesNotHave) {
  Open();
  const Bytes illegalAddress{0x83, 2};
  EXPECT_EQ(serial->AnswerPdu(Read(3, 9, 1)), illegalAddress);      // just past instance 1
  EXPECT_EQ(serial->AnswerPdu(Read(3, 5, 5)), illegalAddress);      // straddles the end
  EXPECT_EQ(serial->AnswerPdu(Read(3, 205, 1)), illegalAddress);    // past the float layout
  EXPECT_EQ(serial->AnswerPdu(Read(3, 5000, 1)), illegalAddress);   // no instance 6
  EXPECT_EQ(serial->AnswerPdu(Read(3, 65535, 2)), illegalAddress);  // beyond the space
  EXPECT_EQ(serial->AnswerPdu(Read(4, 100, 1)), (Bytes{0x84, 2}));
}

TEST_F(SerialFrontEndTest, BadCountsTruncatedQueriesAndOtherFunctionsAreRefused) {
  Open();
  EXPECT_EQ(serial->AnswerPdu(Read(3, 0, 0)), (Bytes{0x83, 3}));
  EXPECT_EQ(serial->AnswerPdu(Read(3, 0, 126)), (Bytes{0x83, 3}));
  EXPECT_EQ(serial->AnswerPdu(Bytes{3, 0, 0, 0}), (Bytes{0x83, 3}));
  EXPECT_EQ(serial->AnswerPdu(Bytes{3}), (Bytes{0x83, 3}));
  for (int f : {1, 2, 5, 6, 7, 15, 16, 17, 23, 43, 0x7F}) {
    const auto function = static_cast<std::uint8_t>(f);
    EXPECT_EQ(serial->AnswerPdu(Bytes{function, 0, 0, 0, 1}),
              (Bytes{static_cast<std::uint8_t>(function | 0x80), 1}));
  }
  EXPECT_TRUE(serial->AnswerPdu(Bytes{}).empty());
  EXPECT_TRUE(serial->AnswerPdu(Bytes(300, 3)).empty());  // larger than any frame
}

TEST_F(SerialFrontEndTest, AnswersRtuQueriesForItsAddressOnly) {
  Open();
  const std::string reply = Exchange(WithCrc({17, 3, 0, 0, 0, 1}));
  EXPECT_EQ(reply, Text(WithCrc({17, 3, 2, 0, 103})));
  EXPECT_EQ(Exchange(WithCrc({17, 4, 0x02, 0x58, 0, 1})), Text(WithCrc({17, 0x84, 2})));
  EXPECT_EQ(Exchange(WithCrc({5, 3, 0, 0, 0, 1})), "");  // another slave's query
  Bytes corrupt = WithCrc({17, 3, 0, 0, 0, 1});
  corrupt.back() ^= 0x55;
  EXPECT_EQ(Exchange(corrupt), "");
  EXPECT_EQ(Exchange(WithCrc({17, 3, 0, 0, 0, 1})), Text(WithCrc({17, 3, 2, 0, 103})));
}

TEST_F(SerialFrontEndTest, AnswersAsciiQueries) {
  Open(/*ascii=*/true);
  EXPECT_EQ(Exchange(AsciiFrame({17, 3, 0, 0, 0, 1})), AsciiFrame({17, 3, 2, 0, 103}));
  EXPECT_EQ(Exchange(AsciiFrame({17, 6, 0, 0, 0, 1})), AsciiFrame({17, 0x86, 1}));
  // A pause inside a query, far above the RTU silence and far below the 1 s ASCII allows.
  const std::string paused = AsciiFrame({17, 3, 0, 0, 0, 1});
  ASSERT_EQ(::write(line, paused.data(), 5), 5);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(Exchange(paused.substr(5)), AsciiFrame({17, 3, 2, 0, 103}));
}

TEST_F(SerialFrontEndTest, ReadersMayComeAndGo) {
  Open();
  for (int round = 0; round < 3; ++round) {
    ::close(line);
    line = ::open(serial->Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(line, 0);
    EXPECT_EQ(Exchange(WithCrc({17, 3, 0, 0, 0, 1})), Text(WithCrc({17, 3, 2, 0, 103})));
  }
}

TEST(PollableMainThread, RunsWorkerCallsOnTheMainThreadAndPassesFailuresBack) {
  TPollableMainThread main;
  std::thread::id ranOn;
  auto worker = std::async(std::launch::async, [&] {
    main.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    main.Synchronize([] { throw std::runtime_error("handler failed"); });
  });
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while (worker.wait_for(0ms) != std::future_status::ready &&
         std::chrono::steady_clock::now() < limit) {
    pollfd p{main.WakeFd(), POLLIN, 0};
    ::poll(&p, 1, 100);
    main.RunPending();
  }
  EXPECT_THROW(worker.get(), std::runtime_error);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(PollableMainThread, AWaitingWorkerIsReleasedWhenTheLoopEnds) {
  auto main = std::make_unique<TPollableMainThread>();
  std::promise<void> queued;
  auto worker = std::async(std::launch::async, [&] {
    main->Post([] {});
    queued.set_value();
    main->Synchronize([] {});
  });
  queued.get_future().wait();
  // Wait until both calls have signalled the loop, then end it without running them.
  std::uint64_t signalled = 0;
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while (signalled < 2 && std::chrono::steady_clock::now() < limit) {
    pollfd p{main->WakeFd(), POLLIN, 0};
    std::uint64_t count = 0;
    if (::poll(&p, 1, 100) == 1 && ::read(main->WakeFd(), &count, sizeof count) == sizeof count) {
      signalled += count;
    }
  }
  ASSERT_EQ(signalled, 2u);
  main.reset();
  EXPECT_THROW(worker.get(), std::runtime_error);
}
