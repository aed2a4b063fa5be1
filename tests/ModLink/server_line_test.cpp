// The slave loop on a pseudo-terminal: queries written by the test on the far side are
// answered on the line, broadcasts and queries for other addresses never are, invalid
// frames are reported, every frame reaches the frame hook, and closing the port ends the
// loop without running the application's handlers.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "FrameLog.h"
#include "ModbusConnection.h"
#include "ModbusServer.h"
#include "ServerTestApplication.h"
#include "ServerTestLine.h"

using namespace serialtest;

namespace {

class ServerLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetApplicationExceptionHandler([this](std::exception_ptr E) {
      try {
        std::rethrow_exception(E);
      } catch (const std::exception& Error) {
        Reported.push_back(Error.what());
      }
    });
    Connection.SetPort(Pty.Path());
    Connection.SetConnectionMode(cmServer);
    Connection.SetParity(psNone);
    Connection.OnInvalidFrameDiscard = [this](TModbusConnection&) { ++InvalidFrames; };
    Connection.OnAfterFrameSendAsync = [this](TModbusConnection&) { ++SendsDone; };
    Server.SetAddress(17);
    Server.SetConnection(&Connection);
    App.Attach(Server);
  }
  void TearDown() override {
    Connection.Close();
    SetApplicationExceptionHandler(nullptr);
  }

  void Open(TTransmissionMode Mode = tmRTU) {
    Connection.SetTransmissionMode(Mode);
    Connection.Open();
    ASSERT_TRUE(WaitUntilListening(Pty, [this] { return InvalidFrames.load(); }));
    InvalidFrames = 0;
  }

  // Sends a query that must not be answered and waits until the loop is done with it, so
  // that the next query is not swallowed by the purge before a reply.
  void SendUnanswered(const TBytes& Frame, const std::function<bool()>& Handled) {
    Pty.Write(Frame);
    ASSERT_TRUE(PumpUntil(Handled));
  }

  TPtyPair Pty;
  TModbusConnection Connection;
  TModbusServer Server;
  TFakeApplication App;
  std::atomic<int> InvalidFrames{0};
  std::atomic<int> SendsDone{0};
  std::vector<std::string> Reported;
};

const TBytes ReadTwo = Rtu({17, 3, 0, 0x20, 0, 2});
const TBytes ReadTwoReply = Rtu({17, 3, 4, 0x10, 0x20, 0x10, 0x21});

TEST_F(ServerLineTest, AnswersAQueryInRtu) {
  Open();
  Pty.Write(ReadTwo);
  EXPECT_EQ(PumpAndRead(Pty), ReadTwoReply);
  Pty.Write(Rtu({17, 6, 0, 5, 0xAB, 0xCD}));
  EXPECT_EQ(PumpAndRead(Pty), Rtu({17, 6, 0, 5, 0xAB, 0xCD}));
  EXPECT_EQ(App.Holding[5], 0xABCD);
}

TEST_F(ServerLineTest, AnswersAQueryInAscii) {
  Open(tmASCII);
  Pty.Write(Ascii({17, 3, 0, 0x20, 0, 2}));
  EXPECT_EQ(PumpAndRead(Pty), Ascii({17, 3, 4, 0x10, 0x20, 0x10, 0x21}));
  Pty.Write(Ascii({17, 7}));
  EXPECT_EQ(PumpAndRead(Pty), Ascii({17, 0x87, 1}));
}

TEST_F(ServerLineTest, AnAsciiQueryWithAPauseInsideIsAnswered) {
  Open(tmASCII);
  const TBytes Query = Ascii({17, 3, 0, 0x20, 0, 2});
  Pty.Write(TBytes(Query.begin(), Query.begin() + 7));
  // Far above the 16 ms silent interval, far below the 1 s an ASCII frame may pause.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Pty.Write(TBytes(Query.begin() + 7, Query.end()));
  EXPECT_EQ(PumpAndRead(Pty), Ascii({17, 3, 4, 0x10, 0x20, 0x10, 0x21}));
}

TEST_F(ServerLineTest, OtherAddressesAndBroadcastsGetNoReply) {
  TModbusServer Second;
  Second.SetAddress(18);
  Second.SetConnection(&Connection);
  TFakeApplication SecondApp;
  SecondApp.Attach(Second);
  Open();

  SendUnanswered(Rtu({99, 3, 0, 0, 0, 1}), [&] { return SendsDone > 0; });
  SendUnanswered(Rtu({0, 6, 0, 9, 0x12, 0x34}), [&] { return SecondApp.Holding[9] == 0x1234; });
  EXPECT_EQ(App.Holding[9], 0x1234) << "every server takes a broadcast";
  // A broadcast read that the application refuses is reported to it but never answered.
  App.UnreadableItems = {0};
  SendUnanswered(Rtu({0, 3, 0, 0, 0, 1}), [&] { return !App.HandlerExceptions.empty(); });

  Pty.Write(ReadTwo);
  EXPECT_EQ(PumpAndRead(Pty), ReadTwoReply) << "only the last query was answered";
}

TEST_F(ServerLineTest, InvalidFramesAreReportedAndNeverAnswered) {
  Open();
  TFrameLog Log(Connection.FrameHook());
  TBytes BadCrc = ReadTwo;
  BadCrc.back() ^= 0xFF;
  SendUnanswered(BadCrc, [&] { return InvalidFrames == 1; });
  SendUnanswered({17, 3, 0}, [&] { return InvalidFrames == 2; });  // shorter than any query
  EXPECT_EQ(App.AcceptAsked.size(), 0u);

  Pty.Write(ReadTwo);
  EXPECT_EQ(PumpAndRead(Pty), ReadTwoReply);
  ASSERT_TRUE(PumpUntil([&] { return Log.Count() == 4; }));
  using D = TFrameDirection;
  using O = TFrameOutcome;
  EXPECT_EQ(Log.Entries(),
            (std::vector<TFrameLog::TEntry>{{D::fdReceived, O::foChecksumError, BadCrc},
                                            {D::fdReceived, O::foLengthError, {17, 3, 0}},
                                            {D::fdReceived, O::foOk, ReadTwo},
                                            {D::fdSent, O::foOk, ReadTwoReply}}));
}

TEST_F(ServerLineTest, AFailingHandlerIsReportedAndTheLoopGoesOn) {
  Server.OnAcceptCommand = [](TModbusServer&, std::uint8_t Command, bool& Accept) {
    if (Command == 4) throw std::runtime_error("handler bug");
    Accept = true;
  };
  Open();
  SendUnanswered(Rtu({17, 4, 0, 0, 0, 1}), [&] { return !Reported.empty(); });
  EXPECT_EQ(Reported.front(), "handler bug");

  Pty.Write(ReadTwo);
  EXPECT_EQ(PumpAndRead(Pty), ReadTwoReply);
}

TEST_F(ServerLineTest, FrameNotificationsCarryQueryAndReply) {
  TBytes Received;
  TBytes Sent;
  Connection.OnFrameReceive = [&](TModbusConnection&, const TFrameData& Data) { Received = Data; };
  Connection.OnFrameSend = [&](TModbusConnection&, const TFrameData& Data) { Sent = Data; };
  Open();
  Pty.Write(ReadTwo);
  EXPECT_EQ(PumpAndRead(Pty), ReadTwoReply);
  ASSERT_TRUE(PumpUntil([&] { return !Sent.empty(); }));
  EXPECT_EQ(Received, ReadTwo);
  EXPECT_EQ(Sent, ReadTwoReply);
}

TEST_F(ServerLineTest, HandlersRunOnTheMainThreadBeforeTheReplyIsSent) {
  std::thread::id HandlerThread;
  int RepliesBeforeHandler = -1;
  Server.OnGetHoldingRegisterValue = [&](TModbusServer&, std::uint16_t, std::uint16_t& Value) {
    HandlerThread = std::this_thread::get_id();
    RepliesBeforeHandler = SendsDone;
    Value = 7;
  };
  Open();
  Pty.Write(Rtu({17, 3, 0, 0, 0, 1}));
  EXPECT_EQ(PumpAndRead(Pty), Rtu({17, 3, 2, 0, 7}));
  EXPECT_EQ(HandlerThread, std::this_thread::get_id());
  EXPECT_EQ(RepliesBeforeHandler, 0);
}

TEST_F(ServerLineTest, ClosingEndsTheLoopWithOneEmptyReceiveReported) {
  Open();
  Pty.Write(ReadTwo);
  ASSERT_EQ(PumpAndRead(Pty), ReadTwoReply);
  const int Before = InvalidFrames;
  Connection.Close();  // must not hang: the break event ends the endless wait
  EXPECT_FALSE(Connection.Active());
  EXPECT_EQ(InvalidFrames, Before + 1);

  // The port can be opened again and serves as before.
  Open();
  Pty.Write(ReadTwo);
  EXPECT_EQ(PumpAndRead(Pty), ReadTwoReply);
}

TEST_F(ServerLineTest, ClosingWhileAQueryWaitsForTheMainThreadRunsNoHandler) {
  Open();
  TFrameLog Log(Connection.FrameHook());
  Pty.Write(ReadTwo);
  // The query has been received and handed to the main thread, which has not run it yet.
  const auto Deadline = TSteadyClock::now() + std::chrono::seconds(5);
  while ((Log.Count() == 0 || DefaultMainThread().PendingCount() == 0) &&
         TSteadyClock::now() < Deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(DefaultMainThread().PendingCount(), 0u);
  Connection.Close();
  EXPECT_EQ(App.AcceptAsked.size(), 0u) << "a handler ran inside Close";
  PumpUntil([] { return false; }, 100);  // the call given up at the close stays given up
  EXPECT_EQ(App.AcceptAsked.size(), 0u);
  EXPECT_TRUE(Pty.ReadAll().empty());
}

TEST_F(ServerLineTest, AHungUpLineIsReportedAtASteadyPace) {
  Open();
  Pty.HangUp();
  // Each report waits for the main thread; between reports the loop pauses instead of
  // spinning on a device that stays hung up.
  const auto Start = TSteadyClock::now();
  PumpUntil([&] { return TSteadyClock::now() - Start > std::chrono::milliseconds(500); }, 1000);
  ASSERT_FALSE(Reported.empty());
  EXPECT_NE(Reported.front().find("hung up"), std::string::npos) << Reported.front();
  EXPECT_LT(Reported.size(), 50u);
  Connection.Close();
  EXPECT_FALSE(Connection.Active());
}

}  // namespace
