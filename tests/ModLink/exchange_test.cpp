// The frame exchange on a pseudo-terminal: RTU frames ended by silence (also when they
// come in chunks), ASCII frames from the colon to CR LF, waits ended by the break event,
// floods and noise bounded in time, sends with their worker-side events and a drain that
// ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "FrameBytes.h"
#include "ModLinkError.h"
#include "ModbusConnection.h"
#include "PtyPair.h"

namespace {

using namespace serialtest;
using TClock = std::chrono::steady_clock;

void SleepMs(int Ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
}

long long ElapsedMs(TClock::time_point Start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - Start).count();
}

// An open connection on a pty. The worker purges the device once when it starts; the
// settle pause keeps that purge away from the bytes a test writes.
class LinkExchange : public ::testing::Test {
 protected:
  void OpenLink(TTransmissionMode Mode = tmRTU) {
    Conn.SetPort(Pty.Path());
    Conn.SetTransmissionMode(Mode);
    Conn.Open();
    SleepMs(100);
  }
  int Receive(std::uint32_t Timeout) {
    return Conn.ReceiveFrame(Area.data(), static_cast<int>(Area.size()), Timeout);
  }
  TBytes Received(int Size) const { return TBytes(Area.begin(), Area.begin() + Size); }

  TPtyPair Pty;
  TModbusConnection Conn;
  TBytes Area = TBytes(513);
};

TEST_F(LinkExchange, RtuChunksWithShortPausesMakeOneFrameALongPauseSplitsIt) {
  // 300 bit/s makes the silent interval 134 ms: far above the short pauses, far
  // below the long one, whatever the machine's load.
  Conn.SetBaudRate(br300);
  OpenLink();
  ASSERT_EQ(Conn.RealSilentInterval(), 134u);
  const TBytes Frame = Bytes({0x01, 0x03, 0x02, 0x00, 0x2A, 0x38, 0x5B});
  std::thread Peer([&] {
    Pty.Write(TBytes(Frame.begin(), Frame.begin() + 2));
    SleepMs(5);
    Pty.Write(TBytes(Frame.begin() + 2, Frame.begin() + 5));
    SleepMs(5);
    Pty.Write(TBytes(Frame.begin() + 5, Frame.end()));
  });
  const int Size = Receive(2000);
  Peer.join();
  EXPECT_EQ(Received(Size), Frame);

  std::thread Split([&] {
    Pty.Write(TBytes(Frame.begin(), Frame.begin() + 3));
    SleepMs(600);
    Pty.Write(TBytes(Frame.begin() + 3, Frame.end()));
  });
  const int First = Receive(2000);
  const int Second = Receive(2000);
  Split.join();
  EXPECT_EQ(First, 3);
  EXPECT_EQ(Second, 4);
}

TEST_F(LinkExchange, RtuFrameDeliveredInChunksIsOneFrame) {
  // A USB adapter at 115200 bit/s hands a 255-byte frame over in chunks on its latency
  // timer. The pauses stay far below the silent interval (134 ms here), while the whole
  // frame takes longer than twice its nominal time on the line.
  Conn.SetBaudRate(br115200);
  Conn.SetSilentInterval(1536);
  OpenLink();
  TBytes Pdu = {1, 3, 250};
  Pdu.resize(253, 0x5A);
  const TBytes Frame = Rtu(Pdu);
  std::thread Peer([&] {
    for (std::size_t At = 0; At < Frame.size(); At += 16) {
      Pty.Write(Frame.data() + At, std::min<std::size_t>(16, Frame.size() - At));
      SleepMs(20);
    }
  });
  const int Size = Receive(2000);
  Peer.join();
  EXPECT_EQ(Received(Size), Frame);
}

TEST_F(LinkExchange, ZeroTimeOutReturnsAtOnceWithoutReading) {
  OpenLink();
  Pty.Write(Bytes({0x01, 0x03, 0x00}));
  SleepMs(20);
  EXPECT_EQ(Receive(0), 0);
  EXPECT_EQ(Receive(1000), 3);  // the bytes are still there
}

TEST_F(LinkExchange, WaitForDataIsEndedByTheBreakEventFromAnotherThread) {
  OpenLink();
  std::thread Breaker([&] {
    SleepMs(100);
    Conn.SignalBreak();
  });
  const auto Start = TClock::now();
  EXPECT_FALSE(Conn.WaitForData(TModbusConnection::InfiniteTimeout));
  Breaker.join();
  EXPECT_LT(ElapsedMs(Start), 10000);

  // A wait that timed out leaves nothing pending: the next one sees new data at once.
  EXPECT_FALSE(Conn.WaitForData(30));
  Pty.Write(Bytes({0x55}));
  EXPECT_TRUE(Conn.WaitForData(5000));
}

TEST_F(LinkExchange, AsciiFrameStartsAtTheLastColonSeen) {
  OpenLink(tmASCII);
  TModbusBuffer Decoded(255);
  std::thread Peer([&] {
    Pty.Write(std::string("xy:01"));
    SleepMs(5);
    Pty.Write(std::string("0300000001FB\r\n"));
  });
  int Size = Receive(2000);
  Peer.join();
  EXPECT_EQ(Received(Size), TBytes({':', '0', '1', '0', '3', '0', '0', '0', '0', '0', '0', '0', '1',
                                    'F', 'B', '\r', '\n'}));
  EXPECT_TRUE(Conn.DecodeFrame(Area.data(), Decoded, Size));

  Pty.Write(std::string("::010300000001FB\r\n"));
  Size = Receive(2000);
  EXPECT_EQ(Size, 17);

  // A wrong character after CR drops the frame: what comes back does not decode.
  Pty.Write(std::string(":010300000001FB\rX"));
  Size = Receive(300);
  EXPECT_FALSE(Conn.DecodeFrame(Area.data(), Decoded, Size));
}

TEST_F(LinkExchange, AsciiNoiseThatNeverStopsEndsTheReceive) {
  OpenLink(tmASCII);
  std::atomic<bool> Stop{false};
  std::thread Noise([&] {
    while (!Stop) {
      Pty.Write(std::string("ZZ"));
      SleepMs(5);
    }
  });
  const auto Start = TClock::now();
  const int Size = Receive(300);
  const auto Elapsed = ElapsedMs(Start);
  Stop = true;
  Noise.join();
  EXPECT_EQ(Size, 0);
  EXPECT_LT(Elapsed, 5000);
}

TEST_F(LinkExchange, FloodsAreCutAtTheAreaAndEndInTime) {
  OpenLink();
  TBytes Flood(10000);
  for (std::size_t i = 0; i < Flood.size(); ++i) Flood[i] = static_cast<std::uint8_t>(i * 7);
  std::thread Peer([&] { Pty.Write(Flood); });
  auto Start = TClock::now();
  const int Size = Conn.ReceiveFrame(Area.data(), 256, 2000);
  Peer.join();
  EXPECT_EQ(Size, 256);
  EXPECT_LT(ElapsedMs(Start), 5000);
  TModbusBuffer Decoded(256);
  EXPECT_FALSE(Conn.DecodeFrame(Area.data(), Decoded, Size));
  EXPECT_EQ(Receive(50), 0);  // the rest of the flood was dropped
}

TEST_F(LinkExchange, AsciiColonStormGivesNoFrame) {
  OpenLink(tmASCII);
  Pty.Write(std::string(10000, ':'));
  const auto Start = TClock::now();
  const int Size = Receive(1000);
  EXPECT_LT(ElapsedMs(Start), 5000);
  TModbusBuffer Decoded(255);
  EXPECT_FALSE(Conn.DecodeFrame(Area.data(), Decoded, Size));
}

TEST_F(LinkExchange, SendWritesTheBytesBetweenTheWorkerSideEvents) {
  std::vector<std::string> Seen;
  Conn.OnBeforeFrameSendAsync = [&](TModbusConnection&) { Seen.push_back("before"); };
  Conn.OnAfterFrameSendAsync = [&](TModbusConnection&) { Seen.push_back("after"); };
  OpenLink();
  const TBytes Query = Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A});
  EXPECT_TRUE(Conn.SendFrame(Query.data(), static_cast<int>(Query.size()), Conn.GetSendTimeout()));
  EXPECT_EQ(Pty.ReadAll(), Query);
  EXPECT_EQ(Seen, (std::vector<std::string>{"before", "after"}));
}

TEST_F(LinkExchange, ASendIntoALineThatTakesNothingEndsAtTheSendTimeOut) {
  OpenLink();
  // Nobody reads the far end: the pty's queue fills up and then takes nothing more.
  const TBytes Big(256 * 1024, 0x55);
  const auto Start = TClock::now();
  EXPECT_FALSE(Conn.SendFrame(Big.data(), static_cast<int>(Big.size()), 200));
  EXPECT_LT(ElapsedMs(Start), 5000);
}

// A line whose flow control never lets the bytes go, as RTS/CTS with CTS held low.
struct TStuckLine : TSerialDevice {
  std::size_t OutputPending() const override { return 64; }
};

TEST(SerialDeviceDrain, ADrainHeldBackForEverEndsAtItsBound) {
  TPtyPair Pty;
  TStuckLine Line;
  Line.Open(Pty.Path());
  const auto Start = TClock::now();
  EXPECT_FALSE(Line.Drain(200));
  EXPECT_LT(ElapsedMs(Start), 5000);
}

TEST_F(LinkExchange, RtsToggleReportsTheMissingModemLine) {
  Conn.SetFlowControl(fcRtsToggle);
  OpenLink();
  const TBytes Query = Bytes({0x01, 0x07, 0x41, 0xE2});
  EXPECT_THROW(Conn.SendFrame(Query.data(), 4, 1000), std::system_error);
}

TEST_F(LinkExchange, PreprocessHandlerMayShortenTheFrame) {
  Conn.OnPreprocessIncomingFrame = [](TModbusConnection&, std::uint8_t* Buffer, int Capacity,
                                      int& DataSize) {
    EXPECT_EQ(Capacity, 513);
    EXPECT_EQ(Buffer[0], 0xAA);
    DataSize -= 1;  // strip a trailing byte
  };
  OpenLink();
  Pty.Write(Bytes({0xAA, 0x01, 0x02}));
  EXPECT_EQ(Receive(2000), 2);
}

TEST_F(LinkExchange, HangUpOfTheFarEndIsReportedNotSpun) {
  OpenLink();
  Pty.HangUp();
  const auto Start = TClock::now();
  EXPECT_THROW(Receive(5000), std::system_error);
  EXPECT_LT(ElapsedMs(Start), 2000);
}

}  // namespace
