// Request methods: argument checks with their messages (nothing is queued and no identifier
// is used up on a refusal) and the exact query each method puts on the line.
#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "ModLinkError.h"

namespace {

using namespace serialtest;

class ClientRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    Rig.Connection.SetReceiveTimeout(1);
    Rig.Connection.OnFrameSend = [this](auto&, const TFrameData& D) { Sent.push_back(D); };
    Rig.Connection.Open();
  }
  // The query the next request puts on the line.
  TBytes Query(const std::function<void()>& Request) {
    const std::size_t Before = Sent.size();
    Request();
    EXPECT_TRUE(TClientRig::RunUntil([&] { return Sent.size() > Before; }));
    return Sent.empty() ? TBytes{} : Sent.back();
  }
  static void ExpectRefused(const std::function<void()>& Request, const std::string& Message) {
    try {
      Request();
      ADD_FAILURE() << "accepted, expected: " << Message;
    } catch (const EModLinkError& E) {
      EXPECT_EQ(E.what(), Message);
    }
  }

  TClientRig Rig;
  std::vector<TBytes> Sent;
};

TEST(ClientWithoutConnection, RequestsNeedAnActiveConnection) {
  TModbusClient Client;
  EXPECT_THROW(Client.ReadHoldingRegisters(0, 1), EModLinkError);
  TModbusConnection Closed;
  Client.SetConnection(&Closed);
  try {
    Client.ReadCoils(0, 1);
    FAIL();
  } catch (const EModLinkError& E) {
    EXPECT_STREQ(E.what(), "There is no active connection");
  }
  EXPECT_EQ(Closed.GetNextUniqueID(), 0u);
}

TEST(ClientWithoutConnection, BindingFollowsTheConnectionsLife) {
  TModbusClient Client;
  TModbusConnection First;
  {
    TModbusConnection Second;
    Client.SetConnection(&First);
    EXPECT_EQ(First.ClientCount(), 1);
    Client.SetConnection(&Second);
    EXPECT_EQ(First.ClientCount(), 0);
    EXPECT_EQ(Second.ClientCount(), 1);
  }
  EXPECT_EQ(Client.Connection(), nullptr);  // the connection told it when it went away
  {
    TModbusClient Gone;
    Gone.SetConnection(&First);
    EXPECT_EQ(First.ClientCount(), 1);
  }
  EXPECT_EQ(First.ClientCount(), 0);
}

TEST_F(ClientRequest, CountAndRangeLimits) {
  auto& C = Rig.Client;
  ExpectRefused([&] { C.ReadHoldingRegisters(0, 0); }, "Register count must be between 1 and 125");
  ExpectRefused([&] { C.ReadInputRegisters(0, 126); }, "Register count must be between 1 and 125");
  ExpectRefused([&] { C.ReadHoldingRegisters(65500, 37); },
                "Starting register index is invalid (65500)");
  ExpectRefused([&] { C.ReadCoils(0, 2009); }, "Discrete i/o count must be between 1 and 2008");
  ExpectRefused([&] { C.ReadDiscreteInputs(65535, 2); },
                "Starting discrete i/o index is invalid (65535)");
  ExpectRefused([&] { C.WriteMultipleCoils(0, TBitValues(1977)); },
                "Discrete i/o count must be between 1 and 1976");
  ExpectRefused([&] { C.WriteMultipleCoils(0, {}); },
                "Discrete i/o count must be between 1 and 1976");
  ExpectRefused([&] { C.WriteMultipleRegisters(0, TRegValues(124)); },
                "Register count must be between 1 and 123");
  ExpectRefused([&] { C.WriteMultipleRegisters(65535, TRegValues(2)); },
                "Starting register index is invalid (65535)");
  ExpectRefused([&] { C.ReadWriteMultipleRegisters(0, 1, 0, TRegValues(122)); },
                "Register count must be between 1 and 121");
  ExpectRefused([&] { C.ReadWriteMultipleRegisters(0, 126, 0, TRegValues(1)); },
                "Register count must be between 1 and 125");
  ExpectRefused([&] { C.ReadWriteMultipleRegisters(0, 1, 65535, TRegValues(2)); },
                "Starting register index is invalid (65535)");
  ExpectRefused([&] { C.InitCustomTransaction(0x41, TBytes(253)); },
                "Invalid request data size (253)");
  TModbusFileRecordList Empty;
  ExpectRefused([&] { C.ReadFileRecord(Empty); }, "File record list is empty or invalid");
  ExpectRefused([&] { C.WriteFileRecord(Empty); }, "File record list is empty or invalid");
  TModbusFileRecordList Large;
  Large.Add(1, 0, 125);  // the reply would need 2 + 252 bytes
  ExpectRefused([&] { C.ReadFileRecord(Large); }, "File record list is empty or invalid");
  ExpectRefused([&] { C.WriteFileRecord(Large); }, "File record list is empty or invalid");

  // Refusals used up no identifier; the largest accepted counts go through.
  EXPECT_EQ(C.ReadHoldingRegisters(65500, 36), 0u);
  EXPECT_EQ(C.ReadCoils(0, 2008), 1u);
  EXPECT_EQ(C.WriteMultipleCoils(0, TBitValues(1976)), 2u);
  EXPECT_EQ(C.WriteMultipleRegisters(0, TRegValues(123)), 3u);
  EXPECT_EQ(C.ReadWriteMultipleRegisters(0, 125, 0, TRegValues(121)), 4u);
  EXPECT_EQ(C.InitCustomTransaction(0x41, TBytes(252)), 5u);
  TModbusFileRecordList Fits;
  Fits.Add(1, 0, 123);
  EXPECT_EQ(C.ReadFileRecord(Fits), 6u);
}

TEST_F(ClientRequest, QueryBytes) {
  auto& C = Rig.Client;
  C.SetServerAddress(0x11);
  EXPECT_EQ(Query([&] { C.ReadCoils(0x13, 0x25); }), Rtu({0x11, 1, 0, 0x13, 0, 0x25}));
  EXPECT_EQ(Query([&] { C.ReadDiscreteInputs(0xC4, 0x16); }), Rtu({0x11, 2, 0, 0xC4, 0, 0x16}));
  EXPECT_EQ(Query([&] { C.ReadInputRegisters(8, 1); }), Rtu({0x11, 4, 0, 8, 0, 1}));
  EXPECT_EQ(Query([&] { C.WriteSingleCoil(0xAC, true); }), Rtu({0x11, 5, 0, 0xAC, 0xFF, 0}));
  EXPECT_EQ(Query([&] { C.WriteSingleCoil(0xAC, false); }), Rtu({0x11, 5, 0, 0xAC, 0, 0}));
  EXPECT_EQ(Query([&] { C.WriteSingleRegister(1, 3); }), Rtu({0x11, 6, 0, 1, 0, 3}));
  EXPECT_EQ(Query([&] { C.ReadExceptionStatus(); }), Rtu({0x11, 7}));
  EXPECT_EQ(Query([&] { C.Diagnostics(daRestartCommsOptionAndClearEventLog); }),
            Rtu({0x11, 8, 0, 1, 0xFF, 0}));
  EXPECT_EQ(Query([&] { C.Diagnostics(daRestartCommsOption); }), Rtu({0x11, 8, 0, 1, 0, 0}));
  EXPECT_EQ(Query([&] { C.Diagnostics(daReturnQueryData); }), Rtu({0x11, 8, 0, 0, 0xA5, 0x37}));
  EXPECT_EQ(Query([&] { C.Diagnostics(daClearOverrunCounterAndFlag); }),
            Rtu({0x11, 8, 0, 20, 0, 0}));
  EXPECT_EQ(Query([&] {
              C.WriteMultipleCoils(
                  0x13, {true, false, true, true, false, false, true, true, true, false});
            }),
            Rtu({0x11, 15, 0, 0x13, 0, 10, 2, 0xCD, 0x01}));
  EXPECT_EQ(Query([&] {
              C.WriteMultipleRegisters(1, {10, 0x102});
            }),
            Rtu({0x11, 16, 0, 1, 0, 2, 4, 0, 10, 1, 2}));
  EXPECT_EQ(Query([&] { C.ReportServerID(); }), Rtu({0x11, 17}));
  EXPECT_EQ(Query([&] { C.MaskWriteSingleRegister(4, 0xF2, 0x25); }),
            Rtu({0x11, 22, 0, 4, 0, 0xF2, 0, 0x25}));
  EXPECT_EQ(Query([&] {
              C.ReadWriteMultipleRegisters(3, 6, 14, {0xFF, 0xFF, 0xFF});
            }),
            Rtu({0x11, 23, 0, 3, 0, 6, 0, 14, 0, 3, 6, 0, 0xFF, 0, 0xFF, 0, 0xFF}));
  EXPECT_EQ(Query([&] { C.InitCustomTransaction(0x41, {}); }), Rtu({0x11, 0x41}));

  TModbusFileRecordList Records;
  Records.Add(4, 1, 2);
  Records.Add(3, 9, 1);
  EXPECT_EQ(Query([&] { C.ReadFileRecord(Records); }),
            Rtu({0x11, 20, 14, 6, 0, 4, 0, 1, 0, 2, 6, 0, 3, 0, 9, 0, 1}));
  TModbusFileRecordList Writes;
  Writes.Add(4, 7, TRegValues{0x06AF, 0x04BE});
  EXPECT_EQ(Query([&] { C.WriteFileRecord(Writes); }),
            Rtu({0x11, 21, 11, 6, 0, 4, 0, 7, 0, 2, 0x06, 0xAF, 0x04, 0xBE}));
}

TEST_F(ClientRequest, UserDataAndIdentifiersComeBack) {
  int Tag = 0;
  TTransactionInfo Seen;
  Rig.Client.OnSingleRegisterWrite = [&](auto&, const TTransactionInfo& I, auto, auto) {
    Seen = I;
  };
  const std::uint32_t First = Rig.Client.WriteSingleRegister(1, 2);
  const std::uint32_t Second = Rig.Client.WriteSingleRegister(1, 2, &Tag);
  EXPECT_EQ(Second, First + 1);
  ASSERT_TRUE(TClientRig::RunUntil([&] { return Seen.ID == Second; }));
  EXPECT_EQ(Seen.UserData, &Tag);
  EXPECT_EQ(Seen.Address, 1);
}

}  // namespace
