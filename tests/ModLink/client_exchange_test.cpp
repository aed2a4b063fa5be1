// The worker's client loop against a scripted slave on a pty: attempts and retries, reply
// classification, frames from other servers, echoes, broadcasts, frame notifications and
// the frame hook.
#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "FrameLog.h"
#include "ModLinkConsts.h"
#include "ModLinkError.h"

namespace {

using namespace serialtest;

const TBytes ReadQueryPdu = {1, 3, 0x00, 0x10, 0x00, 0x03};
const TBytes ReadReplyPdu = {1, 3, 6, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03};

struct TResult {
  int Events = 0;
  TTransactionInfo Info;
  std::uint16_t Start = 0;
  std::uint16_t Count = 0;
  TRegValues Values;
};

class ClientExchange : public ::testing::Test {
 protected:
  void Start(TScript Script, bool AsciiMode = false) {
    Slave = std::make_unique<TScriptedSlave>(Rig.Pty.Master(), AsciiMode, std::move(Script));
    Rig.Client.OnHoldingRegistersRead = [this](TModbusClient&, const TTransactionInfo& Info,
                                               std::uint16_t S, std::uint16_t C,
                                               const TRegValues& V) {
      ++Result.Events;
      Result.Info = Info;
      Result.Start = S;
      Result.Count = C;
      Result.Values = V;
    };
    Rig.Connection.Open();
  }
  // One holding-register read of 3 registers from 0x10, run to its event.
  TResult ReadOnce() {
    Result = {};
    Rig.Client.ReadHoldingRegisters(0x10, 3);
    EXPECT_TRUE(TClientRig::RunUntil([this] { return Result.Events > 0; }));
    return Result;
  }

  TClientRig Rig;
  std::unique_ptr<TScriptedSlave> Slave;
  TResult Result;
};

std::vector<TChunk> Say(const TBytes& Bytes, int DelayMs = 0) {
  return {{DelayMs, Bytes}};
}

TEST_F(ClientExchange, NormalReplySendsTheExactQuery) {
  Start([](const TBytes&) { return Say(Rtu(ReadReplyPdu)); });
  const TResult R = ReadOnce();
  EXPECT_EQ(R.Info.Reply, srNormalReply);
  EXPECT_EQ(R.Info.Retries, 1u);
  EXPECT_EQ(R.Values, (TRegValues{1, 2, 3}));
  ASSERT_EQ(Slave->QueryCount(), 1u);
  EXPECT_EQ(Slave->Queries()[0], Rtu(ReadQueryPdu));
}

TEST_F(ClientExchange, AsciiRoundTrip) {
  TClientRig AsciiRig(tmASCII);
  TScriptedSlave AsciiSlave(AsciiRig.Pty.Master(), true,
                            [](const TBytes&) { return Say(Ascii(ReadReplyPdu)); });
  TRegValues Values;
  TServerReply Reply = srNone;
  bool Done = false;
  AsciiRig.Client.OnHoldingRegistersRead = [&](auto&, const TTransactionInfo& I, auto, auto,
                                               const TRegValues& V) {
    Reply = I.Reply;
    Values = V;
    Done = true;
  };
  AsciiRig.Connection.Open();
  AsciiRig.Client.ReadHoldingRegisters(0x10, 3);
  ASSERT_TRUE(TClientRig::RunUntil([&] { return Done; }));
  EXPECT_EQ(Reply, srNormalReply);
  EXPECT_EQ(Values, (TRegValues{1, 2, 3}));
  EXPECT_EQ(AsciiSlave.Queries()[0], Ascii(ReadQueryPdu));
}

// ASCII: a frame that shares one read with the frame before it (the echo of the query, or
// another slave's frame) is the reply, not bytes to throw away after LF.
TEST(AsciiBurst, TheFrameAfterLfInTheSameReadIsTheReply) {
  for (const bool Echo : {true, false}) {
    TClientRig Rig(tmASCII);
    Rig.Connection.SetEchoQueryBeforeReply(Echo);
    TScriptedSlave Slave(Rig.Pty.Master(), true, [Echo](const TBytes& Query) {
      TBytes Burst = Echo ? Query : Ascii({7, 3, 2, 0, 9});
      const TBytes Reply = Ascii(ReadReplyPdu);
      Burst.insert(Burst.end(), Reply.begin(), Reply.end());
      return Say(Burst);
    });
    TServerReply Reply = srNone;
    Rig.Client.OnHoldingRegistersRead = [&](auto&, const TTransactionInfo& I, auto, auto, auto&) {
      Reply = I.Reply;
    };
    Rig.Connection.Open();
    Rig.Client.ReadHoldingRegisters(0x10, 3);
    EXPECT_TRUE(TClientRig::RunUntil([&] { return Reply == srNormalReply; }, 5s))
        << "echo " << Echo;
  }
}

TEST_F(ClientExchange, SilenceUsesEveryAttempt) {
  Rig.Connection.SetMaxRetries(3);
  Rig.Connection.SetReceiveTimeout(100);
  Start([](const TBytes&) { return std::vector<TChunk>{}; });
  const TResult R = ReadOnce();
  EXPECT_EQ(R.Info.Reply, srNone);
  EXPECT_EQ(R.Info.Retries, 3u);
  EXPECT_EQ(Slave->QueryCount(), 3u);
  // The event still carries the query's start and count, with zero values.
  EXPECT_EQ(R.Start, 0x10);
  EXPECT_EQ(R.Count, 3);
  EXPECT_EQ(R.Values, (TRegValues{0, 0, 0}));
}

TEST_F(ClientExchange, InvalidFramesAreRetriedThenReported) {
  Rig.Connection.SetMaxRetries(2);
  TBytes BadCrc = Rtu(ReadReplyPdu);
  BadCrc.back() ^= 0x55;
  for (const TBytes& Bad :
       {TBytes{0x13, 0x37, 0xFF, 0x00, 0x42, 0x99, 0x01}, BadCrc, TBytes{1, 3, 6}}) {
    Start([Bad](const TBytes&) { return Say(Bad); });
    const TResult R = ReadOnce();
    EXPECT_EQ(R.Info.Reply, srInvalidFrame);
    EXPECT_EQ(R.Info.Retries, 2u);
    Rig.Connection.Close();
    Slave.reset();
  }
}

TEST_F(ClientExchange, RetryAfterSilenceSucceeds) {
  Rig.Connection.SetMaxRetries(3);
  Rig.Connection.SetReceiveTimeout(400);
  int Seen = 0;
  Start([&Seen](const TBytes&) {
    return ++Seen == 1 ? std::vector<TChunk>{} : Say(Rtu(ReadReplyPdu));
  });
  const TResult R = ReadOnce();
  EXPECT_EQ(R.Info.Reply, srNormalReply);
  EXPECT_EQ(R.Info.Retries, 2u);
}

TEST_F(ClientExchange, FrameFromAnotherServerIsIgnored) {
  // Another server's frame, then after a pause longer than the silent interval, the reply.
  Start([](const TBytes&) {
    TBytes Other = ReadReplyPdu;
    Other[0] = 7;
    return std::vector<TChunk>{{0, Rtu(Other)}, {150, Rtu(ReadReplyPdu)}};
  });
  const TResult R = ReadOnce();
  EXPECT_EQ(R.Info.Reply, srNormalReply);
  EXPECT_EQ(R.Info.Retries, 1u);
  EXPECT_EQ(Slave->QueryCount(), 1u);
  EXPECT_EQ(R.Values, (TRegValues{1, 2, 3}));
}

TEST_F(ClientExchange, OnlyAnotherServerAnsweringEndsInSilence) {
  Rig.Connection.SetReceiveTimeout(150);
  Start([](const TBytes&) {
    TBytes Other = ReadReplyPdu;
    Other[0] = 7;
    return Say(Rtu(Other));
  });
  const TResult R = ReadOnce();
  EXPECT_EQ(R.Info.Reply, srNone);
  EXPECT_EQ(R.Info.Retries, 1u);
}

TEST_F(ClientExchange, WrongFunctionCodeIsFinal) {
  Rig.Connection.SetMaxRetries(3);
  Start([](const TBytes&) { return Say(Rtu({1, 4, 6, 0, 1, 0, 2, 0, 3})); });
  const TResult R = ReadOnce();
  EXPECT_EQ(R.Info.Reply, srUnmatchedReply);
  EXPECT_EQ(R.Info.Retries, 1u);
  EXPECT_EQ(R.Values, (TRegValues{0, 0, 0}));
}

TEST_F(ClientExchange, EveryExceptionCode) {
  Rig.Connection.SetMaxRetries(3);
  std::atomic<std::uint8_t> Code{0};  // read by the slave's thread
  Start([&Code](const TBytes&) { return Say(Rtu({1, 0x83, Code.load()})); });
  for (int C : {1, 2, 3, 4, 5, 6, 7, 8, 10, 0}) {
    Code = static_cast<std::uint8_t>(C);
    const TResult R = ReadOnce();
    EXPECT_EQ(R.Info.Reply, srExceptionReply) << C;
    EXPECT_EQ(R.Info.Retries, 1u) << C;
    EXPECT_EQ(R.Info.ExceptionCode, C);
    EXPECT_EQ(R.Info.Exception, C <= 8 ? static_cast<TServerException>(C) : seUnknown) << C;
  }
}

TEST_F(ClientExchange, SplitReply) {
  Rig.Connection.SetSilentInterval(1000);  // about 520 ms at 19200 bit/s
  const TBytes Reply = Rtu(ReadReplyPdu);
  const TBytes Head(Reply.begin(), Reply.begin() + 4), Tail(Reply.begin() + 4, Reply.end());
  std::atomic<int> GapMs{5};
  Start([Head, Tail, &GapMs](const TBytes&) {
    return std::vector<TChunk>{{0, Head}, {GapMs.load(), Tail}};
  });
  // A pause shorter than the silent interval keeps the frame whole.
  EXPECT_EQ(ReadOnce().Info.Reply, srNormalReply);
  // A pause longer than it ends the frame early: what came is not a valid frame.
  GapMs = 1500;
  EXPECT_EQ(ReadOnce().Info.Reply, srInvalidFrame);
}

TEST_F(ClientExchange, EchoBeforeReply) {
  Rig.Connection.SetEchoQueryBeforeReply(true);
  std::vector<TBytes> Received;
  int Sent = 0;
  Rig.Connection.OnFrameReceive = [&](auto&, const TFrameData& D) { Received.push_back(D); };
  Rig.Connection.OnFrameSend = [&](auto&, const TFrameData&) { ++Sent; };
  std::atomic<bool> Together{false};
  Start([&](const TBytes& Query) {
    if (Together) {
      TBytes Both = Query;
      const TBytes Reply = Rtu(ReadReplyPdu);
      Both.insert(Both.end(), Reply.begin(), Reply.end());
      return Say(Both);
    }
    return std::vector<TChunk>{{0, Query}, {150, Rtu(ReadReplyPdu)}};
  });
  TResult R = ReadOnce();
  EXPECT_EQ(R.Info.Reply, srNormalReply);
  EXPECT_EQ(R.Values, (TRegValues{1, 2, 3}));
  Together = true;
  R = ReadOnce();
  EXPECT_EQ(R.Info.Reply, srNormalReply);
  EXPECT_EQ(R.Values, (TRegValues{1, 2, 3}));
  // The echo alone is never shown, and the echo is cut off the reply shown.
  EXPECT_EQ(Received, (std::vector<TBytes>{Rtu(ReadReplyPdu), Rtu(ReadReplyPdu)}));
  EXPECT_EQ(Sent, 2);
}

TEST_F(ClientExchange, EchoWithoutTheOptionIsJudgedAsAReply) {
  Start([](const TBytes& Query) { return Say(Query); });
  // The echoed query carries the right address and function code; its content does not fit.
  EXPECT_EQ(ReadOnce().Info.Reply, srUnmatchedReply);
}

TEST_F(ClientExchange, FrameNotificationsComeInOrder) {
  Rig.Connection.SetMaxRetries(2);
  Rig.Connection.SetReceiveTimeout(400);
  std::vector<std::string> Order;
  Rig.Connection.OnFrameSend = [&](auto&, const TFrameData& D) {
    EXPECT_EQ(D, Rtu(ReadQueryPdu));
    Order.push_back("send");
  };
  Rig.Connection.OnFrameReceive = [&](auto&, const TFrameData&) { Order.push_back("receive"); };
  int Seen = 0;
  Start([&Seen](const TBytes&) {
    return ++Seen == 1 ? std::vector<TChunk>{} : Say(Rtu(ReadReplyPdu));
  });
  Rig.Client.OnTransactionProcessed = [&](auto&, auto&, auto, auto) { Order.push_back("done"); };
  ReadOnce();
  EXPECT_EQ(Order, (std::vector<std::string>{"send", "send", "receive", "done"}));
}

TEST_F(ClientExchange, FrameHookRecordsEachFrameWithItsOutcomeOnceClassified) {
  Rig.Connection.SetMaxRetries(3);
  Rig.Connection.SetReceiveTimeout(300);
  TFrameLog Log(Rig.Connection.FrameHook());
  TBytes BadCrc = Rtu(ReadReplyPdu);
  std::swap(BadCrc[BadCrc.size() - 1], BadCrc[BadCrc.size() - 2]);
  Start([BadCrc, Seen = 0](const TBytes&) mutable {  // owned by the slave's thread
    ++Seen;
    return Seen == 1 ? std::vector<TChunk>{} : Say(Seen == 2 ? BadCrc : Rtu(ReadReplyPdu));
  });
  ASSERT_EQ(ReadOnce().Info.Reply, srNormalReply);
  using D = TFrameDirection;
  using O = TFrameOutcome;
  const std::vector<TFrameLog::TEntry> Expected = {
      {D::fdSent, O::foOk, Rtu(ReadQueryPdu)}, {D::fdReceived, O::foTimeout, {}},
      {D::fdSent, O::foOk, Rtu(ReadQueryPdu)}, {D::fdReceived, O::foChecksumError, BadCrc},
      {D::fdSent, O::foOk, Rtu(ReadQueryPdu)}, {D::fdReceived, O::foOk, Rtu(ReadReplyPdu)}};
  EXPECT_EQ(Log.Entries(), Expected);
  const std::vector<TFrameRecord> Records = Log.Records();
  for (std::size_t i = 0; i < Records.size(); ++i) {
    EXPECT_EQ(Records[i].Framing, TFrameFraming::ffRtu);
    // A received record (or a time-out) measures the time since its query was written.
    EXPECT_EQ(Records[i].ResponseTime > std::chrono::nanoseconds::zero(),
              Records[i].Direction == D::fdReceived)
        << i;
    EXPECT_GE(Records[i].Time, Records[i > 0 ? i - 1 : 0].Time);
  }
}

TEST_F(ClientExchange, FrameHandlersMayBeAssignedWhileTheWorkerRuns) {
  // Run under ThreadSanitizer: the worker only asks whether a handler is assigned.
  Start([](const TBytes&) { return Say(Rtu(ReadReplyPdu)); });
  int Frames = 0;
  for (int Round = 0; Round < 20; ++Round) {
    Rig.Client.ReadHoldingRegisters(0x10, 3);
    Rig.Connection.OnFrameSend = [&](auto&, const TFrameData&) { ++Frames; };
    Rig.Connection.OnFrameReceive =
        Round % 2 ? TFrameDataEvent() : [&](auto&, const TFrameData&) { ++Frames; };
    ASSERT_TRUE(TClientRig::RunUntil(
        [&] { return Rig.Connection.CountPendingTransactions(nullptr) == 0; }));
  }
  EXPECT_GT(Frames, 0);
}

TEST_F(ClientExchange, PlainBroadcastIsSentButNeverReported) {
  int Events = 0;
  Rig.Client.OnSingleRegisterWrite = [&](auto&, auto&, auto, auto) { ++Events; };
  Rig.Client.OnTransactionProcessed = [&](auto&, auto&, auto, auto) { ++Events; };
  Rig.Connection.SetTurnaroundDelay(20);
  Start([](const TBytes&) { return std::vector<TChunk>{}; });
  Rig.Client.SetServerAddress(BroadcastAddress);
  Rig.Client.WriteSingleRegister(5, 0x1234);
  ASSERT_TRUE(TClientRig::RunUntil([&] { return Slave->QueryCount() == 1; }));
  EXPECT_EQ(Slave->Queries()[0], Rtu({0, 6, 0, 5, 0x12, 0x34}));
  // A later unicast completes after the broadcast, so by then the broadcast is long done.
  Rig.Client.SetServerAddress(1);
  Rig.Connection.SetReceiveTimeout(50);
  ReadOnce();
  EXPECT_EQ(Events, 1);
}

TEST_F(ClientExchange, CustomBroadcastWaitsAndIsReported) {
  std::vector<TTransactionInfo> Done;
  Rig.Client.OnCustomTransactionComplete = [&](auto&, const TModbusTransaction& T, std::uint8_t) {
    Done.push_back(T.Info);
  };
  Start([](const TBytes&) { return Say(Rtu({9, 0x41, 0x01})); });
  Rig.Client.SetServerAddress(BroadcastAddress);
  Rig.Client.InitCustomTransaction(0x41, {0xAA, 0xBB}, true);
  ASSERT_TRUE(TClientRig::RunUntil([&] { return !Done.empty(); }));
  EXPECT_EQ(Slave->Queries()[0], Rtu({0, 0x41, 0xAA, 0xBB}));
  EXPECT_EQ(Done[0].Reply, srNormalReply);
  EXPECT_EQ(Done[0].Address, 9);  // promiscuous: the answering server's address
}

TEST_F(ClientExchange, LineFailureCostsOnlyThatTransaction) {
  std::vector<std::string> Reported;
  SetApplicationExceptionHandler([&](std::exception_ptr E) {
    try {
      std::rethrow_exception(E);
    } catch (const std::exception& X) {
      Reported.push_back(X.what());
    }
  });
  // One good exchange first, so the worker is surely past its start-up.
  Start([](const TBytes&) { return Say(Rtu(ReadReplyPdu)); });
  EXPECT_EQ(ReadOnce().Info.Reply, srNormalReply);
  Slave.reset();
  Rig.Pty.HangUp();
  Result = {};
  Rig.Client.ReadHoldingRegisters(0x10, 3);
  Rig.Client.ReadHoldingRegisters(0x10, 3);
  EXPECT_TRUE(TClientRig::RunUntil([&] { return Reported.size() == 2; }));
  EXPECT_EQ(Result.Events, 0);
  EXPECT_EQ(Rig.Connection.CountPendingTransactions(nullptr), 0);
  SetApplicationExceptionHandler(nullptr);
}

}  // namespace
