// Reply decoding: each handler checks the reply against its query, reports a misfit as
// srUnmatchedReply with the values read so far and zeros after them, never reads past the
// bytes received, and raises its event with the query's own fields whatever the outcome.
#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "ModLinkConsts.h"

namespace {

using namespace serialtest;

class ClientReply : public ::testing::Test {
 protected:
  void SetUp() override {
    Rig.Client.SetServerAddress(1);
    Rig.Connection.Open();
  }

  // A finished transaction as the worker would hand it over: RTU query and reply frames.
  TModbusTransactionPtr Make(const TBytes& QueryPdu, const TBytes& ReplyPdu,
                             TServerReply Reply = srNormalReply) {
    auto T = std::make_unique<TModbusTransaction>(Rig.Connection.DetermineMaximumFrameSize());
    Fill(T->QueryBuffer, Rtu(QueryPdu));
    if (!ReplyPdu.empty()) Fill(T->ReplyBuffer, Rtu(ReplyPdu));
    T->Info.Address = QueryPdu[0];
    T->Info.Reply = Reply;
    T->Info.Retries = 1;
    T->Originator = &Rig.Client;
    return T;
  }
  static void Fill(TModbusBuffer& Buffer, const TBytes& Bytes) {
    Buffer.SetSize(0);
    Buffer.PutBlock(Bytes.data(), static_cast<int>(Bytes.size()));
  }
  TServerReply Done(TModbusTransaction& T) {
    Rig.Client.DoneTransaction(T);
    return T.Info.Reply;
  }

  TClientRig Rig;
};

struct TRegisterCase {
  const char* Name;
  TBytes ReplyPdu;
  TServerReply Expected;
  TRegValues Values;
};

class HoldingRegisterReply : public ClientReply,
                             public ::testing::WithParamInterface<TRegisterCase> {};

TEST_P(HoldingRegisterReply, DecodesOrReportsMisfit) {
  const TRegisterCase& Case = GetParam();
  std::uint16_t Start = 0, Count = 0;
  TRegValues Got;
  Rig.Client.OnHoldingRegistersRead = [&](TModbusClient&, const TTransactionInfo&, std::uint16_t S,
                                          std::uint16_t C, const TRegValues& V) {
    Start = S;
    Count = C;
    Got = V;
  };
  auto T = Make({1, 3, 0x00, 0x10, 0x00, 0x03}, Case.ReplyPdu);
  EXPECT_EQ(Done(*T), Case.Expected);
  EXPECT_EQ(Start, 0x10);
  EXPECT_EQ(Count, 3);
  EXPECT_EQ(Got, Case.Values);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HoldingRegisterReply,
    ::testing::Values(
        TRegisterCase{"Normal", {1, 3, 6, 0, 1, 0, 2, 0xAB, 0xCD}, srNormalReply, {1, 2, 0xABCD}},
        // An odd byte count that still names three registers is accepted.
        TRegisterCase{"OddByteCount", {1, 3, 7, 0, 1, 0, 2, 0, 3, 9}, srNormalReply, {1, 2, 3}},
        TRegisterCase{
            "WrongByteCount", {1, 3, 8, 0, 1, 0, 2, 0, 3, 0, 4}, srUnmatchedReply, {0, 0, 0}},
        // The byte count promises six bytes but the frame ends after three: nothing beyond
        // the received bytes may be decoded.
        TRegisterCase{"ShorterThanByteCount", {1, 3, 6, 0, 1, 0}, srUnmatchedReply, {1, 0, 0}},
        // 7 div 2 = 3: every requested value came, so the byte the odd count promises
        // beyond them is not needed.
        TRegisterCase{"OddByteMissing", {1, 3, 7, 0, 1, 0, 2, 0, 3}, srNormalReply, {1, 2, 3}},
        TRegisterCase{"NoByteCount", {1, 3}, srUnmatchedReply, {0, 0, 0}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ClientReply, ShortReplyLeavesNoStaleBytesInTheValues) {
  // Stale data from an earlier, longer frame lies in the reply buffer beyond the new size.
  auto T = Make({1, 3, 0, 0, 0, 3}, {});
  Fill(T->ReplyBuffer, Rtu({1, 3, 6, 0x11, 0x11, 0x22, 0x22, 0x33, 0x33}));
  Fill(T->ReplyBuffer, Rtu({1, 3, 6, 0, 5}));
  TRegValues Got;
  Rig.Client.OnHoldingRegistersRead = [&](auto&, auto&, auto, auto, const TRegValues& V) {
    Got = V;
  };
  EXPECT_EQ(Done(*T), srUnmatchedReply);
  EXPECT_EQ(Got, (TRegValues{5, 0, 0}));
}

TEST_F(ClientReply, EventCarriesQueryFieldsAfterEveryFailure) {
  for (TServerReply Failure : {srNone, srInvalidFrame, srExceptionReply}) {
    TTransactionInfo Seen;
    std::uint16_t Start = 0, Count = 0;
    TRegValues Got;
    Rig.Client.OnInputRegistersRead = [&](auto&, const TTransactionInfo& I, std::uint16_t S,
                                          std::uint16_t C, const TRegValues& V) {
      Seen = I;
      Start = S;
      Count = C;
      Got = V;
    };
    auto T = Make({1, 4, 0x01, 0x00, 0x00, 0x02}, {1, 4, 4, 0, 9, 0, 9}, Failure);
    EXPECT_EQ(Done(*T), Failure);
    EXPECT_EQ(Seen.Reply, Failure);
    EXPECT_EQ(Start, 0x100);
    EXPECT_EQ(Count, 2);
    EXPECT_EQ(Got, (TRegValues{0, 0}));
  }
}

TEST_F(ClientReply, DiscreteBits) {
  TBitValues Got;
  std::uint16_t Count = 0;
  Rig.Client.OnCoilsRead = [&](auto&, auto&, auto, std::uint16_t C, const TBitValues& B) {
    Count = C;
    Got = B;
  };
  auto Good = Make({1, 1, 0, 0, 0, 10}, {1, 1, 2, 0xCD, 0x01});
  EXPECT_EQ(Done(*Good), srNormalReply);
  EXPECT_EQ(Got, (TBitValues{true, false, true, true, false, false, true, true, true, false}));
  EXPECT_EQ(Count, 10);

  auto WrongCount = Make({1, 1, 0, 0, 0, 10}, {1, 1, 1, 0xCD});
  EXPECT_EQ(Done(*WrongCount), srUnmatchedReply);
  EXPECT_EQ(Got, TBitValues(10, false));

  // Byte count right, but the second data byte never came.
  auto Short = Make({1, 2, 0, 0, 0, 10}, {1, 2, 2, 0xCD});
  TBitValues Inputs{true};
  Rig.Client.OnDiscreteInputsRead = [&](auto&, auto&, auto, auto, const TBitValues& B) {
    Inputs = B;
  };
  EXPECT_EQ(Done(*Short), srUnmatchedReply);
  EXPECT_EQ(Inputs, TBitValues(10, false));
}

TEST_F(ClientReply, SingleWritesMustEchoAddressAndValue) {
  bool CoilValue = false;
  Rig.Client.OnSingleCoilWrite = [&](auto&, auto&, std::uint16_t, bool V) { CoilValue = V; };
  auto Coil = Make({1, 5, 0, 7, 0xFF, 0x00}, {1, 5, 0, 7, 0xFF, 0x00});
  EXPECT_EQ(Done(*Coil), srNormalReply);
  EXPECT_TRUE(CoilValue);
  auto CoilOff = Make({1, 5, 0, 7, 0xFF, 0x00}, {1, 5, 0, 7, 0x00, 0x00});
  EXPECT_EQ(Done(*CoilOff), srUnmatchedReply);
  EXPECT_TRUE(CoilValue);  // the query's value, not the reply's

  std::uint16_t RegValue = 0;
  Rig.Client.OnSingleRegisterWrite = [&](auto&, auto&, std::uint16_t, std::uint16_t V) {
    RegValue = V;
  };
  auto Reg = Make({1, 6, 0, 1, 0x12, 0x34}, {1, 6, 0, 1, 0x12});
  EXPECT_EQ(Done(*Reg), srUnmatchedReply);
  EXPECT_EQ(RegValue, 0x1234);

  std::uint16_t And = 0, Or = 0;
  Rig.Client.OnSingleRegisterMaskWrite = [&](auto&, auto&, auto, std::uint16_t A, std::uint16_t O) {
    And = A;
    Or = O;
  };
  auto Mask = Make({1, 22, 0, 4, 0x00, 0xF2, 0x00, 0x25}, {1, 22, 0, 4, 0x00, 0xF2, 0x00, 0x25});
  EXPECT_EQ(Done(*Mask), srNormalReply);
  EXPECT_EQ(And, 0xF2);
  EXPECT_EQ(Or, 0x25);
}

TEST_F(ClientReply, MultipleWritesReportTheQueryValues) {
  TBitValues Bits;
  Rig.Client.OnMultipleCoilsWrite = [&](auto&, auto&, auto, auto, const TBitValues& B) {
    Bits = B;
  };
  auto Coils = Make({1, 15, 0, 19, 0, 10, 2, 0xCD, 0x01}, {1, 15, 0, 19, 0, 10});
  EXPECT_EQ(Done(*Coils), srNormalReply);
  EXPECT_EQ(Bits, (TBitValues{true, false, true, true, false, false, true, true, true, false}));

  TRegValues Regs;
  Rig.Client.OnMultipleRegistersWrite = [&](auto&, auto&, auto, auto, const TRegValues& V) {
    Regs = V;
  };
  auto Registers = Make({1, 16, 0, 1, 0, 2, 4, 0, 10, 1, 2}, {1, 16, 0, 1, 0, 3});
  EXPECT_EQ(Done(*Registers), srUnmatchedReply);
  EXPECT_EQ(Regs, (TRegValues{10, 0x102}));
}

TEST_F(ClientReply, ExceptionStatusAndServerID) {
  TExceptionStatusValues Status;
  Rig.Client.OnExceptionStatusRead = [&](auto&, auto&, const TExceptionStatusValues& S) {
    Status = S;
  };
  auto Good = Make({1, 7}, {1, 7, 0x6D});
  EXPECT_EQ(Done(*Good), srNormalReply);
  EXPECT_EQ(Status, (TExceptionStatusValues{true, false, true, true, false, true, true, false}));
  auto Empty = Make({1, 7}, {1, 7});
  EXPECT_EQ(Done(*Empty), srUnmatchedReply);
  EXPECT_EQ(Status, TExceptionStatusValues(8, false));

  std::int32_t Count = -1;
  TServerIdentificationData Data;
  Rig.Client.OnServerIdentificationReport = [&](auto&, auto&, std::int32_t C,
                                                const TServerIdentificationData& D) {
    Count = C;
    Data = D;
  };
  auto Id = Make({1, 17}, {1, 17, 3, 0x4B, 0x51, 0xFF});
  EXPECT_EQ(Done(*Id), srNormalReply);
  EXPECT_EQ(Count, 3);
  EXPECT_EQ(Data, (TServerIdentificationData{0x4B, 0x51, 0xFF}));
  // The count claims 200 bytes that never came: nothing is read past the frame.
  auto Short = Make({1, 17}, {1, 17, 200, 0x4B});
  EXPECT_EQ(Done(*Short), srUnmatchedReply);
  EXPECT_EQ(Count, 0);
  EXPECT_TRUE(Data.empty());
}

TEST_F(ClientReply, Diagnostics) {
  TDiagnosticAction Action{};
  std::uint16_t Result = 1;
  Rig.Client.OnDiagnostics = [&](auto&, auto&, TDiagnosticAction A, std::uint16_t R) {
    Action = A;
    Result = R;
  };
  auto Restart = Make({1, 8, 0, 1, 0xFF, 0x00}, {1, 8, 0, 1, 0xFF, 0x00});
  EXPECT_EQ(Done(*Restart), srNormalReply);
  EXPECT_EQ(Action, daRestartCommsOptionAndClearEventLog);
  EXPECT_EQ(Result, 0);

  auto BadEcho = Make({1, 8, 0, 0, 0xA5, 0x37}, {1, 8, 0, 0, 0xA5, 0x38});
  EXPECT_EQ(Done(*BadEcho), srUnmatchedReply);
  EXPECT_EQ(Action, daReturnQueryData);

  auto Counter = Make({1, 8, 0, 11, 0, 0}, {1, 8, 0, 11, 0x01, 0x2C});
  EXPECT_EQ(Done(*Counter), srNormalReply);
  EXPECT_EQ(Action, daReturnBusMessageCount);
  EXPECT_EQ(Result, 300);

  auto WrongSub = Make({1, 8, 0, 11, 0, 0}, {1, 8, 0, 12, 0x01, 0x2C});
  EXPECT_EQ(Done(*WrongSub), srUnmatchedReply);
  EXPECT_EQ(Result, 0);
}

TEST_F(ClientReply, ReadWriteMultipleRegisters) {
  TRegValues Read, Written;
  std::uint16_t WriteStart = 0;
  Rig.Client.OnMultipleRegistersReadWrite = [&](auto&, auto&, auto, auto, const TRegValues& R,
                                                std::uint16_t WS, auto, const TRegValues& W) {
    Read = R;
    WriteStart = WS;
    Written = W;
  };
  const TBytes Query = {1, 23, 0, 3, 0, 2, 0, 14, 0, 1, 2, 0x00, 0xFF};
  auto Good = Make(Query, {1, 23, 4, 0, 1, 0, 2});
  EXPECT_EQ(Done(*Good), srNormalReply);
  EXPECT_EQ(Read, (TRegValues{1, 2}));
  EXPECT_EQ(WriteStart, 14);
  EXPECT_EQ(Written, (TRegValues{0xFF}));
  auto Short = Make(Query, {1, 23, 4, 0, 1});
  EXPECT_EQ(Done(*Short), srUnmatchedReply);
  EXPECT_EQ(Read, (TRegValues{1, 0}));                  // what was read, then zeros
  auto OddCount = Make(Query, {1, 23, 5, 0, 3, 0, 4});  // 5 div 2 = 2, both values present
  EXPECT_EQ(Done(*OddCount), srNormalReply);
}

TEST_F(ClientReply, FileRecords) {
  // Two sub-requests: file 4 registers 1..2, file 3 register 9.
  const TBytes ReadQuery = {1, 20, 14, 6, 0, 4, 0, 1, 0, 2, 6, 0, 3, 0, 9, 0, 1};
  std::vector<TRegValues> Values;
  Rig.Client.OnFileRecordRead = [&](auto&, auto&, const TModbusFileRecordList& L) {
    Values.clear();
    for (int i = 0; i < L.Count(); ++i) Values.push_back(L.Items(i).RegValues());
  };
  auto Good = Make(ReadQuery, {1, 20, 10, 5, 6, 0x0D, 0xFE, 0x00, 0x20, 3, 6, 0x33, 0xCD});
  EXPECT_EQ(Done(*Good), srNormalReply);
  EXPECT_EQ(Values, (std::vector<TRegValues>{{0x0DFE, 0x20}, {0x33CD}}));
  auto BadReference = Make(ReadQuery, {1, 20, 10, 5, 6, 0x0D, 0xFE, 0x00, 0x20, 3, 7, 0x33, 0xCD});
  EXPECT_EQ(Done(*BadReference), srUnmatchedReply);
  EXPECT_EQ(Values, (std::vector<TRegValues>{{0x0DFE, 0x20}, {0}}));
  auto Truncated = Make(ReadQuery, {1, 20, 10, 5, 6, 0x0D});
  EXPECT_EQ(Done(*Truncated), srUnmatchedReply);
  EXPECT_EQ(Values, (std::vector<TRegValues>{{0, 0}, {0}}));

  const TBytes WriteQuery = {1, 21, 11, 6, 0, 4, 0, 7, 0, 2, 0x06, 0xAF, 0x04, 0xBE};
  int Records = 0;
  TRegValues Written;
  Rig.Client.OnFileRecordWrite = [&](auto&, auto&, const TModbusFileRecordList& L) {
    Records = L.Count();
    Written = L.Items(0).RegValues();
  };
  auto Echo = Make(WriteQuery, WriteQuery);
  EXPECT_EQ(Done(*Echo), srNormalReply);
  EXPECT_EQ(Records, 1);
  EXPECT_EQ(Written, (TRegValues{0x06AF, 0x04BE}));
  TBytes Changed = WriteQuery;
  Changed.back() = 0xBF;
  auto NotEcho = Make(WriteQuery, Changed);
  EXPECT_EQ(Done(*NotEcho), srUnmatchedReply);
}

TEST_F(ClientReply, CustomPromiscuousTakesTheAnsweringAddress) {
  std::uint8_t Command = 0;
  Rig.Client.OnCustomTransactionComplete = [&](auto&, const TModbusTransaction&, std::uint8_t C) {
    Command = C;
  };
  std::vector<bool> Processed;
  Rig.Client.OnTransactionProcessed = [&](auto&, auto&, auto, bool Custom) {
    Processed.push_back(Custom);
  };
  auto T = Make({1, 0x41, 9}, {7, 0x41, 9, 9});
  T->Custom = true;
  T->Promiscuous = true;
  EXPECT_EQ(Done(*T), srNormalReply);
  EXPECT_EQ(T->Info.Address, 7);
  EXPECT_EQ(Command, 0x41);
  auto Silent = Make({1, 0x41, 9}, {}, srNone);
  Silent->Custom = true;
  Silent->Promiscuous = true;
  Done(*Silent);
  EXPECT_EQ(Silent->Info.Address, 1);
  EXPECT_EQ(Processed, (std::vector<bool>{true, true}));
}

TEST_F(ClientReply, ConsecutiveTimeouts) {
  int Exceeded = 0;
  Rig.Client.OnConsecutiveTimeoutLimitExceed = [&](auto&) { ++Exceeded; };
  Rig.Client.SetMaxConsecutiveTimeouts(3);
  auto TimedOut = [&] {
    auto T = Make({1, 3, 0, 0, 0, 1}, {}, srNone);
    T->Info.Retries = 2;
    Done(*T);
  };
  TimedOut();
  EXPECT_EQ(Rig.Client.ConsecutiveTimeoutCount(), 2u);
  TimedOut();
  EXPECT_EQ(Rig.Client.ConsecutiveTimeoutCount(), 0u);
  EXPECT_EQ(Exceeded, 1);
  TimedOut();
  auto Answer = Make({1, 3, 0, 0, 0, 1}, {1, 0x83, 2}, srExceptionReply);
  Done(*Answer);
  EXPECT_EQ(Rig.Client.ConsecutiveTimeoutCount(), 0u);

  Rig.Client.SetMaxConsecutiveTimeouts(-7);
  EXPECT_EQ(Rig.Client.MaxConsecutiveTimeouts(), -1);
  TimedOut();
  EXPECT_EQ(Rig.Client.ConsecutiveTimeoutCount(), 0u);
}

TEST_F(ClientReply, ExceptionTexts) {
  EXPECT_EQ(Rig.Client.ExceptionCodeToStr(2), "Illegal data address");
  EXPECT_EQ(Rig.Client.ExceptionCodeToStr(6), "Server is busy");
  EXPECT_EQ(Rig.Client.ExceptionCodeToStr(0), "Unknown exception code");
  EXPECT_EQ(Rig.Client.ExceptionCodeToStr(10), "Unknown exception code");
  Rig.Client.OnTranslateExceptionCode = [](auto&, std::uint8_t Code, std::string& Text) {
    if (Code == 2) Text = "Indirizzo non valido";
  };
  EXPECT_EQ(Rig.Client.ExceptionCodeToStr(2), "Indirizzo non valido");
  EXPECT_EQ(Rig.Client.ExceptionCodeToStr(3), "Illegal data value");
}

}  // namespace
