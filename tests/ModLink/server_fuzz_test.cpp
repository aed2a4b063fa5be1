// Generated queries, many of them malformed, fed through the slave's decode-and-process
// path. Meant to run under AddressSanitizer as well: no crash, no read outside the buffers,
// every reply a valid frame or nothing. Each frame is processed twice, with different stale
// bytes lying behind it in the query buffer; identical outcomes show that nothing was read
// beyond the bytes received.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "FrameBytes.h"
#include "ModLinkError.h"
#include "ModbusConnection.h"
#include "ModbusServer.h"
#include "PtyPair.h"
#include "ServerTestApplication.h"

using namespace serialtest;

namespace {

constexpr std::uint8_t OurAddress = 1;

struct TOutcome {
  bool Decoded = false;
  TBytes Reply;
  std::size_t CoilWrites = 0;
  std::size_t RegisterWrites = 0;
  std::size_t HandlerExceptions = 0;
  bool operator==(const TOutcome&) const = default;
};

class ServerFuzzTest : public ::testing::TestWithParam<TTransmissionMode> {
 protected:
  void SetUp() override {
    Connection.SetPort(Pty.Path());
    Connection.SetConnectionMode(cmServer);
    Connection.SetTransmissionMode(GetParam());
    Connection.Open();
    Server.SetAddress(OurAddress);
    Server.SetConnection(&Connection);
    App.Attach(Server);
    for (std::uint16_t Item = 100; Item < 110; ++Item) App.UnreadableItems.insert(Item);
    App.WriteRefusals = {{120, iwsIllegalAddress}, {121, iwsIllegalValue}};
    App.FailingItems = {130};
  }
  void TearDown() override { Connection.Close(); }

  TBytes RandomBytes(std::size_t Count) {
    TBytes Bytes(Count);
    for (auto& Byte : Bytes) Byte = static_cast<std::uint8_t>(Random());
    return Bytes;
  }
  int Pick(int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(Random); }
  void PutWord(TBytes& Bytes, int Value) {
    Bytes.push_back(static_cast<std::uint8_t>(Value >> 8));
    Bytes.push_back(static_cast<std::uint8_t>(Value & 0xFF));
  }

  // A query that is plausible enough to get past the first checks, often with one field off.
  TBytes GenerateQuery() {
    static const std::uint8_t Commands[] = {1, 2, 3, 4, 5, 6, 15, 16, 7, 0x83, 23};
    const int AddressChoice = Pick(0, 9);
    TBytes Query{static_cast<std::uint8_t>(AddressChoice < 7    ? OurAddress
                                           : AddressChoice == 7 ? 0
                                                                : Pick(2, 255)),
                 Commands[Pick(0, sizeof Commands - 1)]};
    const int Start = Pick(0, 3) == 0 ? Pick(65000, 65535) : Pick(90, 140);
    const int Count = Pick(0, 3) == 0 ? Pick(0, 2100) : Pick(1, 20);
    PutWord(Query, Start);
    PutWord(Query, Query[1] == 5 && Pick(0, 1) ? (Pick(0, 1) ? 0xFF00 : 0) : Count);
    if (Query[1] == 15 || Query[1] == 16) {
      const int Expected = Query[1] == 15 ? (Count + 7) / 8 : 2 * Count;
      const int ByteCount = Pick(0, 2) ? Expected : Pick(0, 255);
      Query.push_back(static_cast<std::uint8_t>(ByteCount));
      const int Present = Pick(0, 2) ? ByteCount : Pick(0, ByteCount + 4);
      const TBytes Values = RandomBytes(static_cast<std::size_t>(Present));
      Query.insert(Query.end(), Values.begin(), Values.end());
    }
    // Sometimes cut the query short.
    if (Pick(0, 4) == 0)
      Query.resize(static_cast<std::size_t>(Pick(0, static_cast<int>(Query.size()))));
    return Query;
  }

  // Raw line bytes of a query (or of noise), as the receive would hand them over.
  TBytes GenerateRaw() {
    const bool Noise = Pick(0, 9) == 0;
    TBytes Query = Noise ? RandomBytes(static_cast<std::size_t>(Pick(0, 300))) : GenerateQuery();
    const bool GoodCheck = Pick(0, 9) != 0;
    if (GetParam() == tmRTU) {
      TBytes Raw = GoodCheck ? Rtu(Query) : Query;
      Raw.resize(std::min<std::size_t>(
          Raw.size(), static_cast<std::size_t>(Connection.DetermineInterimBufferSize())));
      return Raw;
    }
    TBytes Text = Ascii(Query);
    if (!GoodCheck)
      Text[static_cast<std::size_t>(Pick(0, static_cast<int>(Text.size()) - 1))] =
          static_cast<std::uint8_t>(Random());
    Text.resize(std::min<std::size_t>(
        Text.size(), static_cast<std::size_t>(Connection.DetermineInterimBufferSize())));
    return Text;
  }

  TOutcome Run(const TBytes& Raw, std::uint8_t Stale) {
    auto Transaction = std::make_unique<TModbusTransaction>(Connection.DetermineMaximumFrameSize());
    TModbusBuffer& Query = Transaction->QueryBuffer;
    const TBytes Filler(static_cast<std::size_t>(Query.Capacity()), Stale);
    Query.PutBlock(Filler.data(), Query.Capacity());
    Transaction->ReplyBuffer.PutBlock(Filler.data(), Query.Capacity());
    Transaction->ReplyBuffer.SetSize(0);

    TOutcome Outcome;
    const std::size_t Coils = App.CoilWrites.size();
    const std::size_t Registers = App.RegisterWrites.size();
    const std::size_t Exceptions = App.HandlerExceptions.size();
    Outcome.Decoded = Connection.DecodeFrame(Raw.data(), Query, static_cast<int>(Raw.size()));
    if (Outcome.Decoded) {
      Transaction->Info.Address = Connection.AcquireServerAddress(Query);
      Connection.ProcessRemoteTransaction(*Transaction);
      if (Transaction->Info.Address != BroadcastAddress) {  // a broadcast is never answered
        const TModbusBuffer& Reply = Transaction->ReplyBuffer;
        Outcome.Reply.assign(Reply.StartPtr(), Reply.StartPtr() + Reply.Size());
      }
    }
    Outcome.CoilWrites = App.CoilWrites.size() - Coils;
    Outcome.RegisterWrites = App.RegisterWrites.size() - Registers;
    Outcome.HandlerExceptions = App.HandlerExceptions.size() - Exceptions;
    return Outcome;
  }

  // Checks a reply against the query it answers; returns an explanation when it is wrong.
  std::string Judge(const TModbusBuffer& Query, const TBytes& Reply) {
    if (Reply.empty()) return "";
    const int CheckSize = Connection.DetermineErrorCheckSize();
    TBytes Body(Reply.begin(), Reply.end() - CheckSize);
    if (GetParam() == tmRTU ? Rtu(Body) != Reply : Reply.back() != ReferenceLrc(Body))
      return "bad error check";
    if (Body[0] != OurAddress) return "wrong address";
    const std::uint8_t Command = Query.StartPtr()[1];
    if (Body[1] == (Command | 0x80)) {
      if (Body.size() != 3 || Body[2] < 1 || Body[2] > 4) return "malformed exception reply";
      return "";
    }
    if (Body[1] != Command) return "wrong function code";
    const std::uint8_t* Q = Query.StartPtr();
    const int Count = Q[4] << 8 | Q[5];
    switch (Command) {
      case 1:
      case 2:
        return Body.size() == 3u + static_cast<std::size_t>((Count + 7) / 8) &&
                       Body[2] == (Count + 7) / 8
                   ? ""
                   : "bad bit read reply";
      case 3:
      case 4:
        return Body.size() == 3u + 2u * static_cast<std::size_t>(Count) && Body[2] == 2 * Count
                   ? ""
                   : "bad register read reply";
      case 5:
      case 6:
      case 15:
      case 16:
        return Body.size() == 6 && std::equal(Body.begin() + 2, Body.end(), Q + 2)
                   ? ""
                   : "bad write reply";
      default:
        return "normal reply to an unsupported command";
    }
  }

  TPtyPair Pty;
  TModbusConnection Connection;
  TModbusServer Server;
  TFakeApplication App;
  std::mt19937 Random{20261208};
};

TEST_P(ServerFuzzTest, EveryReplyIsValidAndNothingIsReadBeyondTheFrame) {
  int Decoded = 0;
  int Answered = 0;
  for (int Iteration = 0; Iteration < 20000; ++Iteration) {
    const TBytes Raw = GenerateRaw();
    const TOutcome First = Run(Raw, 0x00);
    const TOutcome Second = Run(Raw, 0xFF);
    ASSERT_EQ(First, Second) << "iteration " << Iteration << ": the outcome depends on stale bytes";
    if (!First.Decoded) continue;
    ++Decoded;
    TModbusBuffer Query(Connection.DetermineMaximumFrameSize());
    ASSERT_TRUE(Connection.DecodeFrame(Raw.data(), Query, static_cast<int>(Raw.size())));
    const std::string Verdict = Judge(Query, First.Reply);
    ASSERT_EQ(Verdict, "") << "iteration " << Iteration << ", query "
                           << ::testing::PrintToString(Raw) << ", reply "
                           << ::testing::PrintToString(First.Reply);
    if (!First.Reply.empty()) ++Answered;

    // A query whose fields are incomplete, or whose byte count disagrees with its count or
    // with the data it really holds, must not reach the application's stores.
    const std::uint8_t* Q = Query.StartPtr();
    const int DataSize = Query.Size() - 2 - Connection.DetermineErrorCheckSize();
    const bool MultipleWrite = Q[1] == 15 || Q[1] == 16;
    bool Consistent = DataSize >= 4;
    if (MultipleWrite) {
      const int Count = Q[4] << 8 | Q[5];
      const int Expected = Q[1] == 15 ? (Count + 7) / 8 : 2 * Count;
      Consistent = DataSize >= 5 && Q[6] == Expected && DataSize == 5 + Expected;
    }
    if (!Consistent && TModbusServer::IsSupportedCommand(Q[1])) {
      EXPECT_EQ(First.CoilWrites + First.RegisterWrites, 0u) << "iteration " << Iteration;
      // Refused as a whole: a bad count or address (checked first), or the bad byte count.
      if (Q[0] == OurAddress) {
        EXPECT_EQ(First.Reply.at(1), Q[1] | 0x80) << "iteration " << Iteration;
        EXPECT_TRUE(First.Reply.at(2) == 2 || First.Reply.at(2) == 3) << "iteration " << Iteration;
      }
    }
  }
  // The generator must reach the interesting paths, not only the framing checks.
  EXPECT_GT(Decoded, 10000);
  EXPECT_GT(Answered, 8000);
  EXPECT_FALSE(App.RegisterWrites.empty());
  EXPECT_FALSE(App.CoilWrites.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, ServerFuzzTest, ::testing::Values(tmRTU, tmASCII),
                         [](const auto& Info) { return Info.param == tmRTU ? "RTU" : "ASCII"; });

}  // namespace
