// How a server answers single queries: limits, refusals, failing handlers, exception replies,
// the broadcast rule and queries that lie about their own length. The queries are handed
// to the connection's dispatch directly, as the slave loop does after decoding a frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "FrameBytes.h"
#include "ModLinkError.h"
#include "ModbusConnection.h"
#include "ModbusServer.h"
#include "PtyPair.h"
#include "ServerTestApplication.h"

using namespace serialtest;

namespace {

TBytes Words(std::initializer_list<std::uint16_t> Values) {
  TBytes Bytes;
  for (const std::uint16_t Value : Values) {
    Bytes.push_back(static_cast<std::uint8_t>(Value >> 8));
    Bytes.push_back(static_cast<std::uint8_t>(Value & 0xFF));
  }
  return Bytes;
}

TBytes Frame(std::uint8_t Address, std::uint8_t Command, const TBytes& Data) {
  TBytes Bytes;
  Bytes.reserve(2 + Data.size());
  Bytes.push_back(Address);
  Bytes.push_back(Command);
  for (const std::uint8_t Byte : Data) Bytes.push_back(Byte);
  return Bytes;
}

TBytes ExceptionReply(std::uint8_t Address, std::uint8_t Command, std::uint8_t Code) {
  return Rtu({Address, static_cast<std::uint8_t>(Command | 0x80), Code});
}

class ServerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Connection.SetPort(Pty.Path());
    Connection.SetConnectionMode(cmServer);
    Connection.Open();
    Server.SetConnection(&Connection);
    App.Attach(Server);
  }

  // Runs one query (address, function code and data; the CRC is added here) through the
  // connection's dispatch and returns the reply as it would be sent.
  TBytes Process(const TBytes& Query) { return ProcessRaw(Rtu(Query)); }

  // Only the first ReceivedSize bytes count as received; the rest stay in the buffer behind
  // them, as the tail of an earlier, longer frame would.
  TBytes ProcessRaw(const TBytes& QueryWithCheck, std::size_t ReceivedSize = SIZE_MAX) {
    Transaction = std::make_unique<TModbusTransaction>(Connection.DetermineMaximumFrameSize());
    TModbusBuffer& Buffer = Transaction->QueryBuffer;
    Buffer.PutBlock(QueryWithCheck.data(), static_cast<int>(QueryWithCheck.size()));
    if (ReceivedSize < QueryWithCheck.size()) Buffer.SetSize(static_cast<int>(ReceivedSize));
    Transaction->Info.Address = QueryWithCheck.at(0);
    Connection.ProcessRemoteTransaction(*Transaction);
    const TModbusBuffer& Reply = Transaction->ReplyBuffer;
    return TBytes(Reply.StartPtr(), Reply.StartPtr() + Reply.Size());
  }

  TPtyPair Pty;
  TModbusConnection Connection;
  TModbusServer Server;
  TFakeApplication App;
  std::unique_ptr<TModbusTransaction> Transaction;
};

TEST_F(ServerProcessTest, WithoutHandlersEverySupportedCommandIsRefused) {
  TModbusServer Bare;
  Bare.SetAddress(9);
  Bare.SetConnection(&Connection);
  for (const std::uint8_t Command : std::initializer_list<std::uint8_t>{1, 2, 3, 4, 5, 6, 15, 16}) {
    EXPECT_EQ(Process(Frame(9, Command, Words({0, 1}))), ExceptionReply(9, Command, 1))
        << "command " << int(Command);
  }
}

TEST_F(ServerProcessTest, UnsupportedCommandsNeverReachTheApplication) {
  EXPECT_EQ(Process(Frame(1, 7, {})), ExceptionReply(1, 7, 1));
  EXPECT_EQ(Process(Frame(1, 17, {})), ExceptionReply(1, 17, 1));
  EXPECT_EQ(Process(Frame(1, 0x83, Words({0, 1}))), ExceptionReply(1, 0x83, 1));
  EXPECT_TRUE(App.AcceptAsked.empty());

  App.RefusedCommands = {3};
  EXPECT_EQ(Process(Frame(1, 3, Words({0, 1}))), ExceptionReply(1, 3, 1));
  EXPECT_EQ(App.AcceptAsked, TBytes{3});
  EXPECT_EQ(App.ReadsAsked, 0);
}

TEST_F(ServerProcessTest, ReadCoilsLimits) {
  EXPECT_EQ(Process(Frame(1, 1, Words({0, 0}))), ExceptionReply(1, 1, 3));
  EXPECT_EQ(Process(Frame(1, 1, Words({0, 2009}))), ExceptionReply(1, 1, 3));
  EXPECT_EQ(Process(Frame(1, 1, Words({65535, 2}))), ExceptionReply(1, 1, 2));
  EXPECT_EQ(App.ReadsAsked, 0) << "limits are checked before any item is asked about";

  const TBytes Largest = Process(Frame(1, 1, Words({0, 2008})));
  ASSERT_EQ(Largest.size(), 3u + 251u + 2u);
  EXPECT_EQ(Largest[2], 251);
  EXPECT_EQ(Largest, Rtu(TBytes(Largest.begin(), Largest.end() - 2)));

  App.Coils[65535] = true;
  EXPECT_EQ(Process(Frame(1, 1, Words({65535, 1}))), Rtu({1, 1, 1, 0x01}));
}

TEST_F(ServerProcessTest, ReadBitsPackLeastSignificantBitFirst) {
  // Coils: every third item is set; 10 coils from 0 are 1001001001.
  EXPECT_EQ(Process(Frame(1, 1, Words({0, 10}))), Rtu({1, 1, 2, 0x49, 0x02}));
  // Discrete inputs come from their own table: items 1 and 6 of 0..7 are set.
  EXPECT_EQ(Process(Frame(1, 2, Words({0, 8}))), Rtu({1, 2, 1, 0x42}));
}

TEST_F(ServerProcessTest, ReadRegistersLimitsAndValues) {
  EXPECT_EQ(Process(Frame(1, 3, Words({0, 126}))), ExceptionReply(1, 3, 3));
  EXPECT_EQ(Process(Frame(1, 4, Words({0, 0}))), ExceptionReply(1, 4, 3));
  EXPECT_EQ(Process(Frame(1, 3, Words({65535, 2}))), ExceptionReply(1, 3, 2));

  EXPECT_EQ(Process(Frame(1, 3, Words({0x10, 2}))), Rtu(Frame(1, 3, {4, 0x10, 0x10, 0x10, 0x11})));
  EXPECT_EQ(Process(Frame(1, 4, Words({0x10, 1}))), Rtu(Frame(1, 4, {2, 0x80, 0x10})));
  const TBytes Largest = Process(Frame(1, 3, Words({65411, 125})));
  ASSERT_EQ(Largest.size(), 3u + 250u + 2u);
}

TEST_F(ServerProcessTest, UnreadableItemStopsTheReadBeforeAnyValueIsFetched) {
  App.UnreadableItems = {12};
  EXPECT_EQ(Process(Frame(1, 3, Words({10, 5}))), ExceptionReply(1, 3, 2));
  EXPECT_EQ(App.ReadsAsked, 3);
  EXPECT_EQ(App.ValuesFetched, 0);
}

TEST_F(ServerProcessTest, FailingValueHandlerGivesServerFailure) {
  App.FailingItems = {11};
  EXPECT_EQ(Process(Frame(1, 3, Words({10, 5}))), ExceptionReply(1, 3, 4));
  EXPECT_EQ(Process(Frame(1, 2, Words({10, 5}))), ExceptionReply(1, 2, 4));
  ASSERT_FALSE(App.HandlerExceptions.empty());
  EXPECT_EQ(App.HandlerExceptions.back(),
            std::make_tuple(std::uint8_t{2}, seServerFailure, std::uint8_t{4}));
}

TEST_F(ServerProcessTest, HandlerEmittedExceptionReplacesTheNormalReply) {
  Server.OnGetHoldingRegisterValue = [](TModbusServer& Sender, std::uint16_t Item,
                                        std::uint16_t& Value) {
    if (Item == 1) Sender.EmitExceptionReply(seServerBusy);
    Value = 0x5555;
  };
  EXPECT_EQ(Process(Frame(1, 3, Words({0, 3}))), ExceptionReply(1, 3, 6));
  EXPECT_EQ(App.HandlerExceptions.back(),
            std::make_tuple(std::uint8_t{3}, seServerBusy, std::uint8_t{6}));
}

TEST_F(ServerProcessTest, WriteSingleCoil) {
  EXPECT_EQ(Process(Frame(1, 5, Words({7, 0x1234}))), ExceptionReply(1, 5, 3));
  EXPECT_TRUE(App.CoilWrites.empty());

  EXPECT_EQ(Process(Frame(1, 5, Words({7, 0xFF00}))), Rtu(Frame(1, 5, Words({7, 0xFF00}))));
  EXPECT_EQ(Process(Frame(1, 5, Words({7, 0x0000}))), Rtu(Frame(1, 5, Words({7, 0x0000}))));
  EXPECT_EQ(App.CoilWrites, (std::vector<std::pair<std::uint16_t, bool>>{{7, true}, {7, false}}));

  App.WriteRefusals = {{8, iwsIllegalAddress}, {9, iwsIllegalValue}};
  App.FailingItems = {10};
  EXPECT_EQ(Process(Frame(1, 5, Words({8, 0xFF00}))), ExceptionReply(1, 5, 2));
  EXPECT_EQ(Process(Frame(1, 5, Words({9, 0xFF00}))), ExceptionReply(1, 5, 3));
  EXPECT_EQ(Process(Frame(1, 5, Words({10, 0xFF00}))), ExceptionReply(1, 5, 4));
  EXPECT_EQ(App.CoilWrites.size(), 2u);
}

TEST_F(ServerProcessTest, WriteSingleRegisterTakesAnyValue) {
  EXPECT_EQ(Process(Frame(1, 6, Words({300, 0xFFFF}))), Rtu(Frame(1, 6, Words({300, 0xFFFF}))));
  EXPECT_EQ(App.Holding[300], 0xFFFF);
  App.WriteRefusals = {{301, iwsIllegalValue}};
  EXPECT_EQ(Process(Frame(1, 6, Words({301, 1}))), ExceptionReply(1, 6, 3));
}

TEST_F(ServerProcessTest, WriteMultipleRegistersAsksAboutEveryItemBeforeWriting) {
  const TBytes Query = Frame(1, 16, {0, 20, 0, 4, 8, 0, 1, 0, 2, 0, 3, 0, 4});
  App.WriteRefusals = {{22, iwsIllegalAddress}};
  EXPECT_EQ(Process(Query), ExceptionReply(1, 16, 2));
  App.WriteRefusals = {{22, iwsIllegalValue}};
  EXPECT_EQ(Process(Query), ExceptionReply(1, 16, 3));
  EXPECT_TRUE(App.RegisterWrites.empty());

  App.WriteRefusals.clear();
  EXPECT_EQ(Process(Query), Rtu(Frame(1, 16, Words({20, 4}))));
  EXPECT_EQ(App.RegisterWrites, (std::vector<std::pair<std::uint16_t, std::uint16_t>>{
                                    {20, 1}, {21, 2}, {22, 3}, {23, 4}}));
}

TEST_F(ServerProcessTest, FailingStoreEndsAMultipleWriteWithEarlierItemsWritten) {
  App.FailingItems = {22};
  EXPECT_EQ(Process(Frame(1, 16, {0, 20, 0, 3, 6, 0, 1, 0, 2, 0, 3})), ExceptionReply(1, 16, 4));
  EXPECT_EQ(App.RegisterWrites,
            (std::vector<std::pair<std::uint16_t, std::uint16_t>>{{20, 1}, {21, 2}}));
}

TEST_F(ServerProcessTest, WriteMultipleCoilsLimitsAndValues) {
  EXPECT_EQ(Process(Frame(1, 15, {0, 0, 0x07, 0xB9, 248})), ExceptionReply(1, 15, 3));  // 1977
  EXPECT_EQ(Process(Frame(1, 15, {0xFF, 0xFF, 0, 2, 1, 3})), ExceptionReply(1, 15, 2));
  EXPECT_TRUE(App.CoilWrites.empty());

  EXPECT_EQ(Process(Frame(1, 15, {0, 100, 0, 10, 2, 0xCD, 0x01})),
            Rtu(Frame(1, 15, Words({100, 10}))));
  const std::vector<bool> Expected{true, false, true, true, false, false, true, true, true, false};
  ASSERT_EQ(App.CoilWrites.size(), 10u);
  for (std::size_t I = 0; I < Expected.size(); ++I) {
    EXPECT_EQ(App.CoilWrites[I].first, 100 + I);
    EXPECT_EQ(App.CoilWrites[I].second, Expected[I]) << "coil " << I;
  }
}

// A multiple write whose byte count disagrees with its count, or with the bytes that really
// follow, is refused as a whole: nothing is decoded from beyond the received bytes.
TEST_F(ServerProcessTest, MultipleWritesWithAWrongByteCountWriteNothing) {
  // Stale bytes of an earlier, longer query lie in the buffer behind the short one.
  const TBytes Cases[] = {
      Frame(1, 16, {0, 0, 0, 2, 2, 0, 1}),              // byte count too small for 2 registers
      Frame(1, 16, {0, 0, 0, 2, 6, 0, 1, 0, 2, 0, 3}),  // byte count too large, extra data
      Frame(1, 16, {0, 0, 0, 2, 4, 0, 1}),              // byte count right, data missing
      Frame(1, 16, {0, 0, 0, 2}),                       // no byte count at all
      Frame(1, 16, {0, 0}),                             // no count
      Frame(1, 15, {0, 0, 0, 9, 1, 0xFF}),              // 9 coils need 2 bytes
      Frame(1, 15, {0, 0, 0, 9, 2, 0xFF}),              // second byte missing
      Frame(1, 15, {0, 0, 0, 8, 2, 0xFF, 0xFF}),        // 8 coils with 2 bytes
  };
  for (const TBytes& Query : Cases) {
    EXPECT_EQ(Process(Query), ExceptionReply(1, Query[1], 3))
        << "query of " << Query.size() << " bytes";
  }
  EXPECT_TRUE(App.RegisterWrites.empty());
  EXPECT_TRUE(App.CoilWrites.empty());
}

TEST_F(ServerProcessTest, ShortQueriesNeverReadStaleBytes) {
  // Each query arrives cut short: what the handlers would need lies only in stale memory.
  for (const std::uint8_t Command : std::initializer_list<std::uint8_t>{1, 2, 3, 4, 5, 6}) {
    const TBytes Full = Rtu(Frame(1, Command, Words({5, 1})));
    EXPECT_EQ(ProcessRaw(Full, 5), ExceptionReply(1, Command, 3)) << "command " << int(Command);
  }
  const TBytes Registers = Rtu(Frame(1, 16, {0, 0, 0, 2, 4, 0, 1, 0, 2}));
  EXPECT_EQ(ProcessRaw(Registers, 9), ExceptionReply(1, 16, 3));
  const TBytes Coils = Rtu(Frame(1, 15, {0, 0, 0, 9, 2, 0xFF, 0x01}));
  EXPECT_EQ(ProcessRaw(Coils, 8), ExceptionReply(1, 15, 3));

  EXPECT_EQ(App.ReadsAsked, 0);
  EXPECT_TRUE(App.CoilWrites.empty());
  EXPECT_TRUE(App.RegisterWrites.empty());
}

TEST_F(ServerProcessTest, BroadcastWritesReachEveryServerAndAreNeverAnswered) {
  TModbusServer Second;
  Second.SetAddress(2);
  Second.SetConnection(&Connection);
  std::vector<int> Order;
  Server.OnCanWriteHoldingRegister = [&](TModbusServer&, std::uint16_t, std::uint16_t,
                                         TItemWriteStatus& S) { S = iwsAllowWrite; };
  Server.OnSetHoldingRegisterValue = [&](TModbusServer&, std::uint16_t, std::uint16_t) {
    Order.push_back(1);
  };
  Second.OnAcceptCommand = [](TModbusServer&, std::uint8_t, bool& Accept) { Accept = true; };
  Second.OnCanWriteHoldingRegister = Server.OnCanWriteHoldingRegister;
  Second.OnSetHoldingRegisterValue = [&](TModbusServer&, std::uint16_t, std::uint16_t) {
    Order.push_back(2);
  };

  EXPECT_TRUE(Process(Frame(0, 6, Words({1, 2}))).empty());
  EXPECT_EQ(Order, (std::vector<int>{1, 2}));

  // Refusals and unsupported commands pass silently for a broadcast.
  App.HandlerExceptions.clear();
  App.Attach(Server);
  App.WriteRefusals = {{1, iwsIllegalAddress}};
  EXPECT_TRUE(Process(Frame(0, 6, Words({1, 2}))).empty());
  EXPECT_TRUE(Process(Frame(0, 16, {0, 0, 0, 1, 1, 0})).empty());  // byte count wrong
  EXPECT_TRUE(Process(Frame(0, 7, {})).empty());
  EXPECT_TRUE(App.HandlerExceptions.empty());
}

TEST_F(ServerProcessTest, BroadcastReadRefusalIsBuiltButNotAnswered) {
  // The slave loop never sends a broadcast reply; the refusal is still reported to the
  // application through OnCommandHandlerException.
  App.UnreadableItems = {0};
  Process(Frame(0, 3, Words({0, 1})));
  ASSERT_EQ(App.HandlerExceptions.size(), 1u);
  EXPECT_EQ(App.HandlerExceptions[0],
            std::make_tuple(std::uint8_t{3}, seIllegalDataAddress, std::uint8_t{2}));
}

TEST_F(ServerProcessTest, OnlyTheFirstServerWithAnAddressAnswers) {
  TModbusServer Twin;
  Twin.SetConnection(&Connection);
  bool TwinAsked = false;
  Twin.OnAcceptCommand = [&](TModbusServer&, std::uint8_t, bool&) { TwinAsked = true; };
  EXPECT_EQ(Process(Frame(1, 3, Words({0x10, 1}))), Rtu(Frame(1, 3, {2, 0x10, 0x10})));
  EXPECT_FALSE(TwinAsked);
  EXPECT_EQ(Connection.FindServerFromServerAddress(1), &Server);
  EXPECT_EQ(Connection.FindServerFromServerAddress(2), nullptr);
  EXPECT_TRUE(Process(Frame(2, 3, Words({0x10, 1}))).empty());
}

TEST_F(ServerProcessTest, AsciiRepliesCarryTheLrc) {
  Connection.Close();
  Connection.SetTransmissionMode(tmASCII);
  Connection.Open();
  TBytes Query = Frame(1, 6, Words({3, 4}));
  Query.push_back(ReferenceLrc(Query));
  TBytes Expected = Frame(1, 6, Words({3, 4}));
  Expected.push_back(ReferenceLrc(Expected));
  EXPECT_EQ(ProcessRaw(Query), Expected);
  TBytes Refused{1, 0x87, 1};
  Refused.push_back(ReferenceLrc(Refused));
  Query = {1, 7};
  Query.push_back(ReferenceLrc(Query));
  EXPECT_EQ(ProcessRaw(Query), Refused);
}

TEST_F(ServerProcessTest, ActiveTransactionOnlyDuringProcessing) {
  EXPECT_THROW(
      {
        try {
          Server.EmitExceptionReply(seServerBusy);
        } catch (const EModLinkError& E) {
          EXPECT_STREQ(E.what(), "There is no active transaction");
          throw;
        }
      },
      EModLinkError);
  // A handler that raises outside the value handlers leaves processing with the exception,
  // and the active transaction is cleared all the same.
  Server.OnCanReadHoldingRegister = [](TModbusServer&, std::uint16_t, bool&) {
    throw std::runtime_error("application bug");
  };
  EXPECT_THROW(Process(Frame(1, 3, Words({0, 1}))), std::runtime_error);
  EXPECT_THROW(Server.CheckActiveTransaction(), EModLinkError);
}

TEST_F(ServerProcessTest, ProcessingNeedsAnOpenConnection) {
  Connection.Close();
  try {
    Process(Frame(1, 3, Words({0, 1})));
    FAIL() << "processing on a closed connection must raise";
  } catch (const EModLinkError& E) {
    EXPECT_STREQ(E.what(), "There is no active connection");
  }
  TModbusServer Detached;
  EXPECT_THROW(Detached.CheckConnected(), EModLinkError);
  EXPECT_THROW(Detached.ProcessTransaction(*Transaction), EModLinkError);
}

TEST(ServerSettingsTest, AddressRange) {
  TModbusServer Server;
  EXPECT_EQ(Server.Address(), 1);
  Server.SetAddress(247);
  EXPECT_EQ(Server.Address(), 247);
  for (const std::uint8_t Bad : std::initializer_list<std::uint8_t>{0, 248, 255}) {
    try {
      Server.SetAddress(Bad);
      FAIL() << "address " << int(Bad) << " accepted";
    } catch (const EModLinkError& E) {
      EXPECT_STREQ(E.what(), "Value must be between 1 and 247");
    }
  }
  EXPECT_EQ(Server.Address(), 247);
}

TEST(ServerSettingsTest, RegistrationFollowsTheLifetimes) {
  auto Connection = std::make_unique<TModbusConnection>();
  {
    TModbusServer Server;
    Server.SetConnection(Connection.get());
    Server.SetConnection(Connection.get());
    EXPECT_EQ(Connection->ServerCount(), 1);
  }
  EXPECT_EQ(Connection->ServerCount(), 0) << "a destroyed server unregisters";

  TModbusServer Server;
  Server.SetConnection(Connection.get());
  Connection.reset();
  EXPECT_EQ(Server.Connection(), nullptr) << "a destroyed connection is forgotten";
  EXPECT_THROW(Server.CheckConnected(), EModLinkError);
}

}  // namespace
