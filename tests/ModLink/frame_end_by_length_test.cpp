// RTU frames ended by their predicted length: where the framing cuts two frames that
// follow each other without a silence (a table of function codes, no port), and on a
// pseudo-terminal, a query and its reply 2 ms apart as two frames for a monitor and a
// slave, while a frame cut short still comes out invalid.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "FrameBytes.h"
#include "FrameLog.h"
#include "ModbusConnection.h"
#include "ModbusFraming.h"
#include "ServerTestLine.h"

using namespace serialtest;

namespace {

void SleepMs(int Ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
}

struct TSplitRow {
  const char* Name;
  TBytes First;  // the frame that arrives first, CRC included
  TBytes Next;   // the one right behind it
  TQueryShape LastQuery;
  bool Splits;  // false: the silence has to end the frame
};

class PredictedFrameEnd : public ::testing::TestWithParam<TSplitRow> {};

TEST_P(PredictedFrameEnd, CutsAtTheFirstFrameOrLeavesItToTheSilence) {
  const TSplitRow& Row = GetParam();
  TBytes Area = Row.First;
  Area.insert(Area.end(), Row.Next.begin(), Row.Next.end());
  for (const TConnectionMode Role : {cmClient, cmServer, cmMonitor}) {
    TFrameScan Scan;
    Scan.LastQuery = Row.LastQuery;
    TBytes Line = Area;
    TModbusFraming(tmRTU, Role, true).Scan(Scan, Line.data(), static_cast<int>(Line.size()));
    EXPECT_EQ(Scan.Complete, Row.Splits) << "side " << int(Role);
    if (!Row.Splits) continue;
    EXPECT_EQ(Scan.Collected, static_cast<int>(Row.First.size()));
    EXPECT_EQ(Scan.RestAt, static_cast<int>(Row.First.size()));
    EXPECT_EQ(Scan.Rest, static_cast<int>(Row.Next.size()));
  }
}

const TBytes ReadQuery = Rtu({1, 3, 0, 0, 0, 2});
const TBytes ReadReply = Rtu({1, 3, 4, 0, 1, 0, 2});
TBytes Corrupt(TBytes Frame) {
  Frame.back() ^= 0xFF;
  return Frame;
}

INSTANTIATE_TEST_SUITE_P(
    Rtu, PredictedFrameEnd,
    ::testing::Values(
        TSplitRow{"ReadQueryThenReply", ReadQuery, ReadReply, {}, true},
        TSplitRow{"ReadReplyThenNextQuery", ReadReply, ReadQuery, {3, 8}, true},
        TSplitRow{"ExceptionReply", Rtu({1, 0x83, 2}), ReadQuery, {}, true},
        TSplitRow{"WriteRegistersQuery",
                  Rtu({1, 16, 0, 1, 0, 2, 4, 0, 10, 1, 2}),
                  Rtu({1, 16, 0, 1, 0, 2}),
                  {},
                  true},
        TSplitRow{"ReadWriteRegistersQuery",
                  Rtu({1, 23, 0, 0, 0, 1, 0, 5, 0, 1, 2, 0, 9}),
                  Rtu({1, 23, 2, 0, 7}),
                  {},
                  true},
        TSplitRow{"FifoReply", Rtu({1, 24, 0, 6, 0, 2, 0, 1, 0, 2}), ReadQuery, {}, true},
        TSplitRow{
            "DiagnosticsEchoOfItsQuery", Rtu({1, 8, 0, 0, 1, 2, 3, 4}), ReadQuery, {8, 10}, true},
        TSplitRow{
            "DiagnosticsEchoOfAnUnseenQuery", Rtu({1, 8, 0, 0, 1, 2, 3, 4}), ReadQuery, {}, false},
        TSplitRow{"UnpredictableFunction", Rtu({1, 43, 14, 1, 0}), ReadQuery, {}, false},
        TSplitRow{"WrongCrcAtThePredictedLength", Corrupt(ReadQuery), ReadReply, {}, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(PredictedFrameEndOff, TheSilenceStaysTheRule) {
  TBytes Line = ReadQuery;
  Line.insert(Line.end(), ReadReply.begin(), ReadReply.end());
  TFrameScan Scan;
  TModbusFraming(tmRTU, cmMonitor).Scan(Scan, Line.data(), static_cast<int>(Line.size()));
  EXPECT_FALSE(Scan.Complete);
  EXPECT_EQ(Scan.Collected, static_cast<int>(Line.size()));
}

// A connection on a pty whose frames end by their length; the silent interval stays at
// its 16 ms floor, far above the 2 ms between query and reply.
class FrameEndByLengthLine : public ::testing::Test {
 protected:
  void Open(TConnectionMode Mode) {
    Connection.SetPort(Pty.Path());
    Connection.SetConnectionMode(Mode);
    Connection.SetFrameEndByLength(true);
    Connection.OnInvalidFrameDiscard = [this](TModbusConnection&) { ++InvalidFrames; };
    Connection.Open();
    ASSERT_TRUE(WaitUntilListening(Pty, [this] { return InvalidFrames.load(); }));
  }
  void WriteQueryAndReply() {
    Pty.Write(Rtu({2, 3, 0, 0x10, 0, 2}));
    SleepMs(2);
    Pty.Write(Rtu({2, 3, 4, 0xDE, 0xAD, 0xBE, 0xEF}));
  }
  void TearDown() override { Connection.Close(); }

  TPtyPair Pty;
  TModbusConnection Connection;
  std::atomic<int> InvalidFrames{0};
};

TEST_F(FrameEndByLengthLine, AMonitorSeesAQueryAndItsReplyAsTwoFrames) {
  std::vector<std::pair<std::uint8_t, TBytes>> Captured;
  Connection.OnInspectCapturedFrame = [&](TModbusConnection&, std::uint8_t, std::uint8_t Command,
                                          const TFrameData& Data) {
    Captured.emplace_back(Command, Data);
  };
  Open(cmMonitor);
  const int Invalid = InvalidFrames;
  WriteQueryAndReply();
  ASSERT_TRUE(PumpUntil([&] { return Captured.size() >= 2 || InvalidFrames > Invalid; }));
  PumpUntil([] { return false; }, 50);  // nothing else may follow
  const std::vector<std::pair<std::uint8_t, TBytes>> Expected{{3, {0, 0x10, 0, 2}},
                                                              {3, {4, 0xDE, 0xAD, 0xBE, 0xEF}}};
  EXPECT_EQ(Captured, Expected);
  EXPECT_EQ(InvalidFrames, Invalid);
}

// The slave has no server at address 2: the query gets no answer, and the other slave's
// reply behind it is the next frame, not something to purge.
TEST_F(FrameEndByLengthLine, ASlaveSeesAQueryAndItsReplyAsTwoFrames) {
  Open(cmServer);
  TFrameLog Log(Connection.FrameHook());
  WriteQueryAndReply();
  ASSERT_TRUE(PumpUntil([&] { return Log.Count() >= 2; }));
  PumpUntil([] { return false; }, 50);
  const std::vector<TFrameLog::TEntry> Expected{
      {TFrameDirection::fdReceived, TFrameOutcome::foOk, Rtu({2, 3, 0, 0x10, 0, 2})},
      {TFrameDirection::fdReceived, TFrameOutcome::foOk, Rtu({2, 3, 4, 0xDE, 0xAD, 0xBE, 0xEF})}};
  EXPECT_EQ(Log.Entries(), Expected);
  EXPECT_TRUE(PumpAndRead(Pty, 100).empty()) << "nothing is answered for another address";
}

TEST(FrameEndByLengthExchange, AFrameCutShortByAPauseLongerThanTheReceiveTimeOutIsInvalid) {
  TPtyPair Pty;
  TModbusConnection Connection;
  Connection.SetPort(Pty.Path());
  Connection.SetFrameEndByLength(true);
  Connection.SetReceiveTimeout(100);
  Connection.Open();
  SleepMs(100);  // past the worker's purge at start
  const TBytes Reply = ReadReply;
  std::thread Peer([&] {
    Pty.Write(TBytes(Reply.begin(), Reply.begin() + 4));
    SleepMs(300);
    Pty.Write(TBytes(Reply.begin() + 4, Reply.end()));
  });
  TBytes Area(256);
  TModbusBuffer Frame(MaxFrameADUSizeRTU);
  for (const int Expected : {4, static_cast<int>(Reply.size()) - 4}) {
    const int Size = Connection.ReceiveFrame(Area.data(), static_cast<int>(Area.size()), 1000);
    EXPECT_EQ(Size, Expected);
    EXPECT_NE(Connection.Framing().Decode(Area.data(), Frame, Size), TDecodeResult::drOk);
  }
  Peer.join();
  Connection.Close();
}

}  // namespace
