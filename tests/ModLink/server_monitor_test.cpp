// The line monitor: every valid frame written on the far side reaches the application as
// address, function code and data, queries and replies alike; everything else is reported
// as an invalid frame; the monitor itself never transmits.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "FrameLog.h"
#include "ModbusConnection.h"
#include "ServerTestLine.h"

using namespace serialtest;

namespace {

struct TCaptured {
  std::uint8_t Address;
  std::uint8_t Command;
  TBytes Data;
  bool operator==(const TCaptured&) const = default;
};

void PrintTo(const TCaptured& Frame, std::ostream* Out) {
  *Out << "address " << int(Frame.Address) << ", command " << int(Frame.Command) << ", data "
       << ::testing::PrintToString(Frame.Data);
}

class ServerMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Connection.SetPort(Pty.Path());
    Connection.SetConnectionMode(cmMonitor);
    Connection.OnInspectCapturedFrame = [this](TModbusConnection&, std::uint8_t Address,
                                               std::uint8_t Command, const TFrameData& Data) {
      Captured.push_back({Address, Command, Data});
    };
    Connection.OnInvalidFrameDiscard = [this](TModbusConnection&) { ++InvalidFrames; };
  }
  void TearDown() override { Connection.Close(); }

  void Open(TTransmissionMode Mode = tmRTU) {
    Connection.SetTransmissionMode(Mode);
    Connection.Open();
    ASSERT_TRUE(WaitUntilListening(Pty, [this] { return InvalidFrames.load(); }));
    InvalidFrames = 0;
  }

  // Writes one frame and waits until the monitor has reported something about it.
  void Feed(const TBytes& Frame) {
    const std::size_t Reports = Captured.size() + static_cast<std::size_t>(InvalidFrames);
    Pty.Write(Frame);
    ASSERT_TRUE(PumpUntil(
        [&] { return Captured.size() + static_cast<std::size_t>(InvalidFrames) > Reports; }));
  }
  void Feed(const std::string& Text) { Feed(TBytes(Text.begin(), Text.end())); }

  TPtyPair Pty;
  TModbusConnection Connection;
  std::vector<TCaptured> Captured;
  std::atomic<int> InvalidFrames{0};
};

// The reply is written as soon as the query has been reported: nothing that arrives while a
// frame is being handed over may be lost.
TEST_F(ServerMonitorTest, CapturesQueriesAndRepliesInOrder) {
  Open();
  Feed(Rtu({5, 3, 0, 0x10, 0, 2}));
  Feed(Rtu({5, 3, 4, 0xDE, 0xAD, 0xBE, 0xEF}));
  Feed(Rtu({5, 0x83, 2}));
  const std::vector<TCaptured> Expected{
      {5, 3, {0, 0x10, 0, 2}}, {5, 3, {4, 0xDE, 0xAD, 0xBE, 0xEF}}, {5, 0x83, {2}}};
  EXPECT_EQ(Captured, Expected);
  EXPECT_EQ(InvalidFrames, 0);
  EXPECT_TRUE(PumpAndRead(Pty, 200).empty()) << "a monitor never transmits";
}

TEST_F(ServerMonitorTest, MinimalFrameHasNoCommandData) {
  Open();
  Feed(Rtu({9, 7}));
  ASSERT_EQ(Captured.size(), 1u);
  EXPECT_EQ(Captured[0], (TCaptured{9, 7, {}}));
}

TEST_F(ServerMonitorTest, InvalidFramesAreReported) {
  Open();
  TFrameLog Log(Connection.FrameHook());
  TBytes Bad = Rtu({5, 3, 0, 0, 0, 1});
  Bad[3] ^= 0x40;
  Feed(Bad);
  Feed(TBytes{5, 3, 0});
  EXPECT_EQ(InvalidFrames, 2);
  EXPECT_TRUE(Captured.empty());
  Feed(Rtu({5, 6, 0, 1, 0, 2}));
  ASSERT_EQ(Captured.size(), 1u);
  // Every frame seen reaches the frame hook, valid or not.
  using D = TFrameDirection;
  using O = TFrameOutcome;
  EXPECT_EQ(Log.Entries(),
            (std::vector<TFrameLog::TEntry>{{D::fdReceived, O::foChecksumError, Bad},
                                            {D::fdReceived, O::foLengthError, {5, 3, 0}},
                                            {D::fdReceived, O::foOk, Rtu({5, 6, 0, 1, 0, 2})}}));
}

TEST_F(ServerMonitorTest, CapturesAsciiFrames) {
  Open(tmASCII);
  Feed(Ascii({0x11, 0x10, 0, 1, 0, 1, 2, 0x12, 0x34}));
  Feed(Ascii({0x11, 0x01}));
  Feed(std::string(":1103000000"));  // no CR LF: cut short by silence
  const std::vector<TCaptured> Expected{{0x11, 0x10, {0, 1, 0, 1, 2, 0x12, 0x34}},
                                        {0x11, 0x01, {}}};
  EXPECT_EQ(Captured, Expected);
  EXPECT_EQ(InvalidFrames, 1);
}

TEST_F(ServerMonitorTest, ClosingEndsTheMonitor) {
  Open();
  Feed(Rtu({1, 3, 0, 1, 0, 1}));
  Connection.Close();
  EXPECT_FALSE(Connection.Active());
  // The empty receive that ends the wait is reported at most once: when the close comes
  // before the worker is back in its receive, the loop ends without reporting anything.
  EXPECT_LE(InvalidFrames, 1);
}

}  // namespace
