// How the client takes replies: exception and mismatched replies, partial,
// split, late and malformed frames, silence, and a server that hangs up.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ClientFixture.h"

using namespace std::chrono_literals;
using TFrame = TScriptedTcpServer::TFrame;
using TServer = TScriptedTcpServer;

namespace {

struct ErrorEvent {
  uint8_t FunctionCode, ErrorCode, ReplyFunctionCode;
};
struct MismatchEvent {
  uint8_t Requested, Received;
};

class ReplyHandling : public ClientFixture {
 protected:
  void Watch() {
    Client.OnResponseError = [this](uint8_t Function, uint8_t Code,
                                    const TModBusResponseBuffer& R) {
      Errors.push_back({Function, Code, R.FunctionCode});
    };
    Client.OnResponseMismatch = [this](uint8_t Requested, uint8_t Received,
                                       const TModBusResponseBuffer&) {
      Mismatches.push_back({Requested, Received});
    };
  }

  // Reads four holding registers into an array pre-filled with 0xEEEE.
  bool ReadFour(std::vector<uint16_t>& Values) {
    Values.assign(4, 0xEEEE);
    return Client.ReadHoldingRegisters(1, 4, Values);
  }

  std::vector<ErrorEvent> Errors;
  std::vector<MismatchEvent> Mismatches;
};

// The frame the server would send for Request, with another transaction identifier.
TFrame WithTransaction(TFrame Frame, uint8_t Low, uint8_t High) {
  Frame[0] = Low;
  Frame[1] = High;
  return Frame;
}

}  // namespace

TEST_F(ReplyHandling, ExceptionRepliesRaiseOnResponseErrorWithTheirCode) {
  std::atomic<uint8_t> code{2};
  Start([&](const TFrame& Request) {
    return TServer::TScript{TServer::Send(TServer::ExceptionReply(Request, code))};
  });
  Watch();
  std::vector<uint16_t> values;
  EXPECT_FALSE(ReadFour(values));
  EXPECT_EQ(values, std::vector<uint16_t>(4, 0));  // the caller receives zeros
  code = mbeGatewayNoResponseFromTarget;
  EXPECT_FALSE(Client.WriteRegister(1, 5));
  ASSERT_EQ(Errors.size(), 2u);
  EXPECT_EQ(Errors[0].FunctionCode, 3);
  EXPECT_EQ(Errors[0].ErrorCode, 2);
  EXPECT_EQ(Errors[0].ReplyFunctionCode, 0x83);
  EXPECT_EQ(Errors[1].FunctionCode, 6);
  EXPECT_EQ(Errors[1].ErrorCode, 0x0B);
  EXPECT_TRUE(Mismatches.empty());
  EXPECT_TRUE(Client.Connected());  // a failed request leaves the connection as it was
}

TEST_F(ReplyHandling, AnotherFunctionCodeRaisesOnResponseMismatch) {
  Start(TServer::Always([](const TFrame& Request) {
    TFrame reply = TServer::RegistersReply(Request, {1, 2, 3, 4});
    reply[7] = 4;
    return reply;
  }));
  Watch();
  std::vector<uint16_t> values;
  EXPECT_FALSE(ReadFour(values));
  EXPECT_EQ(values, std::vector<uint16_t>(4, 0));
  ASSERT_EQ(Mismatches.size(), 1u);
  EXPECT_EQ(Mismatches[0].Requested, 3);
  EXPECT_EQ(Mismatches[0].Received, 4);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ReplyHandling, ReadReplyWithoutExactlyTheRequestedValuesFails) {
  struct Row {
    const char* Name;
    uint8_t Function;
    uint16_t Count;
    std::vector<uint8_t> Pdu;
  };
  const std::vector<Row> rows = {
      {"one register short", 3, 4, {3, 6, 0, 1, 0, 2, 0, 3}},
      {"one register too many", 3, 4, {3, 10, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5}},
      {"byte count over a shorter frame", 3, 4, {3, 8, 0, 9}},
      {"no byte count", 4, 2, {4}},
      {"coil byte count short", 1, 10, {1, 1, 0x05}},
      {"input bits frame short", 2, 10, {2, 2, 0x05}},
  };
  std::atomic<std::size_t> row{0};
  Start([&](const TFrame& Request) {
    return TServer::TScript{TServer::Send(TServer::Reply(Request, rows[row].Pdu))};
  });
  Watch();
  for (; row < rows.size(); ++row) {
    const Row& r = rows[row];
    std::vector<uint16_t> data(r.Count, 0xEEEE);
    Mismatches.clear();
    EXPECT_FALSE(Client.SendCommand(r.Function, 1, r.Count, data)) << r.Name;
    EXPECT_EQ(data, std::vector<uint16_t>(r.Count, 0xEEEE)) << r.Name;  // nothing unpacked
    ASSERT_EQ(Mismatches.size(), 1u) << r.Name;
    EXPECT_EQ(Mismatches[0].Requested, r.Function) << r.Name;
    EXPECT_EQ(Mismatches[0].Received, r.Function) << r.Name;
  }
}

TEST_F(ReplyHandling, GatewayAnsweringWithIdentifierZeroIsUnderstood) {
  std::atomic<uint16_t> served{0};
  Start([&](const TFrame& Request) {
    const uint16_t v = ++served;
    return TServer::TScript{
        TServer::Send(WithTransaction(TServer::RegistersReply(Request, {v, v, v, v}), 0, 0))};
  });
  Client.SetTimeOut(500);
  std::vector<uint16_t> values;
  for (uint16_t i = 1; i <= 3; ++i) {
    EXPECT_TRUE(ReadFour(values));
    EXPECT_EQ(values, std::vector<uint16_t>(4, i));
  }
}

// A frame that is not the reply, 50 ms ahead of it, is dropped with its
// reason, however close it comes to an echo-less gateway's identifier-0 reply.
TEST_F(ReplyHandling, StrayFrameAheadOfTheReplyIsDroppedWithItsReason) {
  struct TStray {
    uint8_t Id, Unit, Function, Registers;
    const char* Why;  // for the request carrying identifier N (row N)
  };
  const TStray rows[] = {
      {7, 0, 3, 4, "transaction id 7, expected 1"},
      {0, 5, 3, 4, "unit id 5, expected 0"},
      {0, 0, 4, 4, "function 4, expected 3"},
      {0, 0, 3, 3, "length 15, expected 17"},
  };
  std::atomic<std::size_t> row{0};
  Start([&](const TFrame& Request) {
    const TStray& r = rows[row];
    TFrame stray = TServer::RegistersReply(Request, std::vector<uint16_t>(r.Registers, 0x1234));
    stray[0] = r.Id;
    stray[1] = 0;
    stray[6] = r.Unit;
    stray[7] = r.Function;
    return TServer::TScript{TServer::Send(stray), TServer::Pause(50ms),
                            TServer::Send(TServer::RegistersReply(Request, {1, 2, 3, 4}))};
  });
  Client.SetUnitID(0);
  std::vector<std::string> dropped;
  Client.FrameHook().Subscribe([&](const TFrameRecord& R) {
    if (R.Outcome == TFrameOutcome::foUnmatched) dropped.push_back(R.NotMatched);
  });
  for (; row < std::size(rows); ++row) {
    SCOPED_TRACE(rows[row].Why);
    Client.Disconnect();
    Client.Connect();  // identifier 1 again
    std::vector<uint16_t> values;
    dropped.clear();
    EXPECT_TRUE(ReadFour(values));
    EXPECT_EQ(values, (std::vector<uint16_t>{1, 2, 3, 4}));
    EXPECT_EQ(dropped, std::vector<std::string>{rows[row].Why});
  }
}

// A device streaming bytes without end neither fills the memory nor holds the
// request until its deadline: the client drops it as a broken peer.
TEST_F(ReplyHandling, EndlessStreamIsDroppedAsABrokenPeer) {
  Start([](const TFrame&) {
    TServer::TScript stream;
    for (int i = 0; i < 64; ++i) stream.push_back(TServer::Send(TFrame(64 * 1024, 0)));
    return stream;
  });
  std::size_t largest = 0;
  Client.FrameHook().Subscribe(
      [&](const TFrameRecord& R) { largest = std::max(largest, R.Bytes.size()); });
  std::vector<uint16_t> values;
  try {
    ReadFour(values);
    ADD_FAILURE() << "a stream must raise";
  } catch (const ETcpConnectionError& Error) {
    EXPECT_EQ(Error.OSError(), BrokenPeerError);
    EXPECT_NE(std::string(Error.what()).find("answer no request"), std::string::npos)
        << Error.what();
  }
  EXPECT_FALSE(Client.Connected());
  EXPECT_LE(largest, TTcpClient::InputBufferCapacity);
}

TEST_F(ReplyHandling, ReplySplitIntoSegmentsIsReadToItsEnd) {
  std::atomic<std::size_t> cut{3};
  Start([&](const TFrame& Request) {
    const TFrame reply = TServer::RegistersReply(Request, {10, 20, 30, 40});
    const auto at = reply.begin() + static_cast<std::ptrdiff_t>(cut.load());
    return TServer::TScript{TServer::Send(TFrame(reply.begin(), at)), TServer::Pause(150ms),
                            TServer::Send(TFrame(at, reply.end()))};
  });
  std::vector<uint16_t> values;
  EXPECT_TRUE(ReadFour(values));  // cut inside the header
  EXPECT_EQ(values, (std::vector<uint16_t>{10, 20, 30, 40}));
  cut = 12;  // cut inside the register values
  EXPECT_TRUE(ReadFour(values));
  EXPECT_EQ(values, (std::vector<uint16_t>{10, 20, 30, 40}));
}

TEST_F(ReplyHandling, LateReplyIsNeverTakenForTheNextRequest) {
  std::atomic<int> request{0};
  Start([&](const TFrame& Request) {
    if (request++ == 0)  // answers only after the client gave up
      return TServer::TScript{TServer::Pause(500ms), TServer::Send(TServer::RegistersReply(
                                                         Request, {111, 111, 111, 111}))};
    return TServer::TScript{TServer::Send(TServer::RegistersReply(Request, {222, 222, 222, 222}))};
  });
  Client.SetTimeOut(200);
  std::vector<uint16_t> values;
  EXPECT_FALSE(ReadFour(values));
  EXPECT_EQ(values, std::vector<uint16_t>(4, 0));
  Client.SetTimeOut(3000);
  EXPECT_TRUE(ReadFour(values));
  EXPECT_EQ(values, std::vector<uint16_t>(4, 222));
}

TEST_F(ReplyHandling, StaleFrameInFrontOfTheReplyIsDropped) {
  Start([](const TFrame& Request) {
    TFrame both = WithTransaction(TServer::RegistersReply(Request, {7, 7, 7, 7}), 0x63, 0x00);
    const TFrame right = TServer::RegistersReply(Request, {1, 2, 3, 4});
    both.insert(both.end(), right.begin(), right.end());
    return TServer::TScript{TServer::Send(both)};
  });
  std::vector<uint16_t> values;
  EXPECT_TRUE(ReadFour(values));
  EXPECT_EQ(values, (std::vector<uint16_t>{1, 2, 3, 4}));
}

TEST_F(ReplyHandling, BytesBeyondTheFrameStayForTheNextReply) {
  std::atomic<int> request{0};
  Start([&](const TFrame& Request) {
    // With the first reply comes the start of the second one (identifier 2).
    const TFrame second =
        WithTransaction(TServer::RegistersReply(Request, {5, 6, 7, 8}), 0x02, 0x00);
    if (request++ == 0) {
      TFrame bytes = TServer::RegistersReply(Request, {1, 2, 3, 4});
      bytes.insert(bytes.end(), second.begin(), second.begin() + 9);
      return TServer::TScript{TServer::Send(bytes)};
    }
    return TServer::TScript{TServer::Send(TFrame(second.begin() + 9, second.end()))};
  });
  std::vector<uint16_t> values;
  EXPECT_TRUE(ReadFour(values));
  EXPECT_EQ(values, (std::vector<uint16_t>{1, 2, 3, 4}));
  EXPECT_TRUE(ReadFour(values));
  EXPECT_EQ(values, (std::vector<uint16_t>{5, 6, 7, 8}));
}

TEST_F(ReplyHandling, ImpossibleLengthIsDroppedAndTheClientRecovers) {
  std::atomic<int> request{0};
  Start([&](const TFrame& Request) {
    if (request++ == 0) {
      TFrame garbage = TServer::RegistersReply(Request, {1, 2, 3, 4});
      garbage[4] = 0xFF;  // announces 65280 bytes
      return TServer::TScript{TServer::Send(garbage)};
    }
    return TServer::TScript{TServer::Send(TServer::RegistersReply(Request, {4, 3, 2, 1}))};
  });
  Client.SetTimeOut(200);
  std::vector<uint16_t> values;
  EXPECT_FALSE(ReadFour(values));
  EXPECT_TRUE(ReadFour(values));
  EXPECT_EQ(values, (std::vector<uint16_t>{4, 3, 2, 1}));
}

TEST_F(ReplyHandling, SilentServerTimesOutWithoutEvents) {
  Start([](const TFrame&) { return TServer::TScript{}; });
  Watch();
  Client.SetTimeOut(300);
  const auto started = std::chrono::steady_clock::now();
  std::vector<uint16_t> values;
  EXPECT_FALSE(ReadFour(values));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  EXPECT_EQ(values, std::vector<uint16_t>(4, 0));
  EXPECT_TRUE(Errors.empty());
  EXPECT_TRUE(Mismatches.empty());

  // TimeOut 0 only looks at what has already arrived.
  Client.SetTimeOut(0);
  EXPECT_FALSE(ReadFour(values));
}

TEST_F(ReplyHandling, IncompleteReplyAtTheDeadlineIsATimeOut) {
  Start([](const TFrame& Request) {
    const TFrame reply = TServer::RegistersReply(Request, {1, 2, 3, 4});
    return TServer::TScript{TServer::Send(TFrame(reply.begin(), reply.end() - 1))};
  });
  Watch();
  Client.SetTimeOut(300);
  std::vector<uint16_t> values;
  EXPECT_FALSE(ReadFour(values));
  EXPECT_EQ(values, std::vector<uint16_t>(4, 0));
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ReplyHandling, ServerClosingMidRequestRaisesAndDropsTheConnection) {
  std::atomic<int> request{0};
  Start([&](const TFrame& Request) {
    if (request++ == 0) return TServer::TScript{TServer::Close()};
    const TFrame reply = TServer::RegistersReply(Request, {1, 2, 3, 4});
    return TServer::TScript{TServer::Send(TFrame(reply.begin(), reply.begin() + 8)),
                            TServer::Close()};
  });
  std::vector<uint16_t> values;
  EXPECT_THROW(ReadFour(values), ETcpConnectionError);
  EXPECT_FALSE(Client.Connected());
  EXPECT_THROW(ReadFour(values), ETcpConnectionError);  // not connected: nothing is sent

  Client.Connect();
  try {
    ReadFour(values);  // half a reply, then the close
    ADD_FAILURE() << "a close after half a reply must raise";
  } catch (const ETcpConnectionError& Error) {
    EXPECT_NE(std::string(Error.what()).find("closed"), std::string::npos) << Error.what();
  }
  EXPECT_EQ(Server->Requests().size(), 2u);
}

TEST_F(ReplyHandling, ReplyFollowedByACloseIsStillTaken) {
  Start([](const TFrame& Request) {
    return TServer::TScript{TServer::Send(TServer::RegistersReply(Request, {1, 2, 3, 4})),
                            TServer::Close()};
  });
  std::vector<uint16_t> values;
  EXPECT_TRUE(ReadFour(values));
  EXPECT_EQ(values, (std::vector<uint16_t>{1, 2, 3, 4}));
  ASSERT_TRUE(Server->WaitForRequests(1, 5s));
  // The close is noticed by the next look at the connection.
  for (int i = 0; i < 100 && Client.Connected(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(Client.Connected());
}

TEST_F(ReplyHandling, AutoConnectClosesItsConnectionAlsoAfterAFailure) {
  std::atomic<int> request{0};
  Start(
      [&](const TFrame& Request) {
        if (request++ == 0) return TServer::TScript{TServer::Close()};
        return TServer::TScript{TServer::Send(TServer::ExceptionReply(Request, 2))};
      },
      /*AutoConnect=*/true);
  std::vector<uint16_t> values;
  EXPECT_THROW(ReadFour(values), ETcpConnectionError);
  EXPECT_FALSE(Client.Connected());
  EXPECT_FALSE(ReadFour(values));
  EXPECT_FALSE(Client.Connected());
  EXPECT_EQ(Server->ConnectionCount(), 2);
}

TEST_F(ReplyHandling, ArbitraryReplyContentNeverReachesPastWhatWasReceived) {
  // Well-framed replies with the right identifier but random function codes,
  // byte counts and lengths: every request ends at once, with any result,
  // and the values are only ever zeros or the server's 0xA5A5 filler.
  std::atomic<uint32_t> seed{12345};
  Start([&](const TFrame& Request) {
    uint32_t s = seed.load();
    auto next = [&s] {
      s = s * 1103515245u + 12345u;
      return static_cast<uint8_t>(s >> 16);
    };
    const uint8_t functions[] = {3, 0x83, 4, 3, 3};
    std::vector<uint8_t> pdu{functions[next() % 5], next()};
    const std::size_t more = next() % 24;
    for (std::size_t i = 0; i < more; ++i) pdu.push_back(0xA5);
    seed = s;
    return TServer::TScript{TServer::Send(TServer::Reply(Request, pdu))};
  });
  Watch();
  for (int i = 0; i < 300; ++i) {
    std::vector<uint16_t> values;
    ReadFour(values);
    ASSERT_EQ(values.size(), 4u);
    for (const uint16_t v : values) ASSERT_TRUE(v == 0 || v == 0xA5A5) << v;
  }
  EXPECT_FALSE(Errors.empty());
  EXPECT_FALSE(Mismatches.empty());
}
