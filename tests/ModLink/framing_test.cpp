// RTU and ASCII framing as a value: sizes, encoding, decoding (a table of line images,
// and generated garbage), reply matching. No connection and no port are needed. Check
// vectors were produced with pymodbus's CRC and LRC routines.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "ModLinkConsts.h"
#include "ModLinkError.h"
#include "ModLinkErrorText.h"
#include "ModbusConnection.h"
#include "ModbusFraming.h"
#include "ModbusTransaction.h"

namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Hex(const std::string& Text) {
  TBytes Result;
  for (std::size_t i = 0; i + 1 < Text.size(); i += 2)
    Result.push_back(static_cast<std::uint8_t>(std::stoi(Text.substr(i, 2), nullptr, 16)));
  return Result;
}

TBytes Text(const std::string& Value) {
  return TBytes(Value.begin(), Value.end());
}

void Fill(TModbusBuffer& Buffer, const TBytes& Bytes) {
  Buffer.SetSize(0);
  Buffer.PutBlock(Bytes.data(), static_cast<int>(Bytes.size()));
}

TModbusFraming Framing(TTransmissionMode Mode, TConnectionMode Role = cmClient) {
  return TModbusFraming(Mode, Role);
}

struct TCheckVector {
  const char* Body;  // address, function code, data
  const char* Crc;   // as sent, low byte first
  const char* Lrc;
};

class ErrorCheckVectors : public ::testing::TestWithParam<TCheckVector> {};

TEST_P(ErrorCheckVectors, EmitAndVerifyInBothModes) {
  const TCheckVector& V = GetParam();
  const TBytes Body = Hex(V.Body);
  TModbusBuffer Buffer(MaxFrameADUSizeRTU);

  const TModbusFraming Rtu = Framing(tmRTU);
  Fill(Buffer, Body);
  Rtu.EmitErrorCheck(Buffer);
  TBytes Expected = Body;
  for (auto b : Hex(V.Crc)) Expected.push_back(b);
  EXPECT_EQ(TBytes(Buffer.StartPtr(), Buffer.StartPtr() + Buffer.Size()), Expected);
  EXPECT_TRUE(Rtu.ErrorChecksEqual(Buffer));
  Buffer.StartPtr()[0] ^= 0x01;
  EXPECT_FALSE(Rtu.ErrorChecksEqual(Buffer));

  const TModbusFraming Ascii = Framing(tmASCII);
  Fill(Buffer, Body);
  Ascii.EmitErrorCheck(Buffer);
  EXPECT_EQ(Buffer.StartPtr()[Buffer.Size() - 1], Hex(V.Lrc)[0]);
  EXPECT_TRUE(Ascii.ErrorChecksEqual(Buffer));
}

INSTANTIATE_TEST_SUITE_P(Pymodbus, ErrorCheckVectors,
                         ::testing::Values(TCheckVector{"010300000001", "840a", "fb"},
                                           TCheckVector{"11030006000a", "275c", "dc"},
                                           TCheckVector{"0106000100ff", "984a", "f9"},
                                           TCheckVector{"f70f0013000a02cd01", "5d6f", "0d"},
                                           TCheckVector{"0a10000100020400010002", "c746", "dc"},
                                           TCheckVector{"0183", "4181", "7c"},
                                           TCheckVector{"010400000064", "f1e1", "97"}));

TEST(Framing, SizesPerMode) {
  const TModbusFraming Rtu = Framing(tmRTU);
  EXPECT_EQ(Rtu.HeaderSize(), 1);
  EXPECT_EQ(Rtu.ErrorCheckSize(), 2);
  EXPECT_EQ(Rtu.MinimumQuerySize(), 4);
  EXPECT_EQ(Rtu.MinimumReplySize(), 5);
  EXPECT_EQ(Rtu.MaximumFrameSize(), 256);
  EXPECT_EQ(Rtu.InterimBufferSize(), 256);
  const TModbusFraming Ascii = Framing(tmASCII);
  EXPECT_EQ(Ascii.ErrorCheckSize(), 1);
  EXPECT_EQ(Ascii.MinimumQuerySize(), 3);
  EXPECT_EQ(Ascii.MinimumReplySize(), 4);
  EXPECT_EQ(Ascii.MaximumFrameSize(), 255);
  EXPECT_EQ(Ascii.InterimBufferSize(), 513);
  EXPECT_EQ(Framing(tmASCII, cmClient).MinimumRawFrameSize(), 11);
  EXPECT_EQ(Framing(tmASCII, cmServer).MinimumRawFrameSize(), 9);
  EXPECT_EQ(Framing(tmASCII, cmMonitor).MinimumRawFrameSize(), 9);
  EXPECT_EQ(Framing(tmRTU, cmMonitor).MinimumRawFrameSize(), 4);
  EXPECT_EQ(Framing(tmRTU, cmClient).MinimumRawFrameSize(), 5);
  // The connection hands its framing questions to the value of its modes.
  TModbusConnection Conn;
  Conn.SetTransmissionMode(tmASCII);
  Conn.SetConnectionMode(cmServer);
  EXPECT_EQ(Conn.DetermineMinimumRawFrameSize(), 9);
  EXPECT_EQ(Conn.DetermineInterimBufferSize(), 513);
}

TEST(Framing, EncodeRtuAndAscii) {
  TModbusBuffer Buffer(256);
  std::uint8_t Raw[600];

  Fill(Buffer, Hex("010300000001840A"));
  EXPECT_EQ(Framing(tmRTU).Encode(Buffer, Raw, sizeof Raw), 8);
  EXPECT_EQ(TBytes(Raw, Raw + 8), Hex("010300000001840A"));

  Fill(Buffer, Hex("010300000001FB"));
  ASSERT_EQ(Framing(tmASCII).Encode(Buffer, Raw, sizeof Raw), 17);
  EXPECT_EQ(TBytes(Raw, Raw + 17), Text(":010300000001FB\r\n"));

  // The destination must take the whole raw frame.
  EXPECT_EQ(ErrorText([&] { Framing(tmASCII).Encode(Buffer, Raw, 16); }), "Failed to encode frame");
  Fill(Buffer, Hex("010300000001840A"));
  EXPECT_EQ(ErrorText([&] { Framing(tmRTU).Encode(Buffer, Raw, 7); }), "Failed to encode frame");

  Buffer.SetSize(0);
  EXPECT_EQ(Framing(tmRTU).Encode(Buffer, Raw, 0), 0);
}

// What decoding one line image gave: the decoded bytes and how the frame was judged.
struct TDecoded {
  enum TKind { Ok, BadCheck, Malformed, TooLarge } Kind;
  TBytes Bytes;  // the binary frame, when one was decoded (also with a bad check)
  bool operator==(const TDecoded&) const = default;
  friend void PrintTo(const TDecoded& D, std::ostream* Out) {
    static const char* const Kinds[] = {"Ok", "BadCheck", "Malformed", "TooLarge"};
    *Out << Kinds[D.Kind] << " " << ::testing::PrintToString(D.Bytes);
  }
};

struct TDecodeRow {
  const char* Name;
  TTransmissionMode Mode;
  TConnectionMode Role;
  TBytes Raw;
  TDecoded Expected;
};

TBytes Repeat(const std::string& Piece, int Times, const std::string& Before = "",
              const std::string& After = "") {
  std::string Joined = Before;
  for (int i = 0; i < Times; ++i) Joined += Piece;
  return Text(Joined + After);
}

class DecodeTable : public ::testing::TestWithParam<TDecodeRow> {};

TEST_P(DecodeTable, GivesTheFrameOrRejectsIt) {
  const TDecodeRow& Row = GetParam();
  const TModbusFraming Framing(Row.Mode, Row.Role);
  TModbusBuffer Buffer(Framing.MaximumFrameSize());
  TDecoded Got{TDecoded::TooLarge, {}};
  try {
    const TDecodeResult Result =
        Framing.Decode(Row.Raw.data(), Buffer, static_cast<int>(Row.Raw.size()));
    Got.Kind = Result == TDecodeResult::drOk         ? TDecoded::Ok
               : Result == TDecodeResult::drBadCheck ? TDecoded::BadCheck
                                                     : TDecoded::Malformed;
    Got.Bytes.assign(Buffer.StartPtr(), Buffer.StartPtr() + Buffer.Size());
  } catch (const EModLinkError& E) {
    EXPECT_STREQ(E.what(), "Failed to decode frame");
  }
  EXPECT_EQ(Got, Row.Expected);
}

const TDecoded Malformed{TDecoded::Malformed, {}};
const TDecoded TooLarge{TDecoded::TooLarge, {}};

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodeTable,
    ::testing::Values(
        TDecodeRow{"AsciiUpperCase",
                   tmASCII,
                   cmClient,
                   Text(":010300000001FB\r\n"),
                   {TDecoded::Ok, Hex("010300000001FB")}},
        // The line decoder does not validate digits: a lower-case letter is right as the high
        // digit of a pair, and as the low digit only where bit 5 is already set.
        TDecodeRow{"AsciiLowerCaseDigits",
                   tmASCII,
                   cmClient,
                   Text(":010300000001fb\r\n"),
                   {TDecoded::Ok, Hex("010300000001FB")}},
        TDecodeRow{"AsciiLowerCaseLowDigitSetsBit5",
                   tmASCII,
                   cmClient,
                   Text(":0a0300000001FB\r\n"),
                   {TDecoded::BadCheck, Hex("2A0300000001FB")}},
        TDecodeRow{"AsciiWrongLrc",
                   tmASCII,
                   cmClient,
                   Text(":010300000001FC\r\n"),
                   {TDecoded::BadCheck, Hex("010300000001FC")}},
        TDecodeRow{"AsciiCrWithoutLf", tmASCII, cmClient, Text(":010300000001FB\r"), Malformed},
        TDecodeRow{"AsciiLfBeforeCr", tmASCII, cmClient, Text(":010300000001FB\n\r"), Malformed},
        TDecodeRow{"AsciiNoColon", tmASCII, cmClient, Text("010300000001FB\r\n!"), Malformed},
        TDecodeRow{"AsciiWrongCharacterAfterCr", tmASCII, cmClient, Text(":010300000001FB\rX"),
                   Malformed},
        TDecodeRow{"AsciiTooShort", tmASCII, cmClient, Text(":0103\r\n"), Malformed},
        TDecodeRow{"AsciiServerMinimum",
                   tmASCII,
                   cmServer,
                   Text(":0107F8\r\n"),
                   {TDecoded::Ok, Hex("0107F8")}},
        TDecodeRow{"AsciiUnderTheClientMinimum", tmASCII, cmClient, Text(":0107F8\r\n"), Malformed},
        TDecodeRow{"AsciiLargerThanTheBuffer", tmASCII, cmClient, Repeat("00", 256, ":", "\r\n"),
                   TooLarge},
        TDecodeRow{"RtuQuery",
                   tmRTU,
                   cmServer,
                   Hex("010300000001840A"),
                   {TDecoded::Ok, Hex("010300000001840A")}},
        TDecodeRow{"RtuSwappedCrcBytes",
                   tmRTU,
                   cmServer,
                   Hex("0103000000010A84"),
                   {TDecoded::BadCheck, Hex("0103000000010A84")}},
        TDecodeRow{
            "RtuServerMinimum", tmRTU, cmServer, Hex("010741E2"), {TDecoded::Ok, Hex("010741E2")}},
        TDecodeRow{"RtuUnderTheServerMinimum", tmRTU, cmServer, Hex("010741"), Malformed},
        TDecodeRow{"RtuUnderTheClientMinimum", tmRTU, cmClient, Hex("01830241"), Malformed},
        TDecodeRow{"RtuLargerThanTheBuffer", tmRTU, cmMonitor, TBytes(257, 0x11), TooLarge}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Framing, ANegativeSizeIsRejected) {
  const TBytes Four = Hex("01830241");
  TModbusBuffer Buffer(256);
  EXPECT_EQ(Framing(tmRTU).Decode(Four.data(), Buffer, -1), TDecodeResult::drMalformed);
}

TEST(Framing, GeneratedGarbageIsDecodedOrRejectedNeverMisread) {
  std::mt19937 Random(2026);
  const int Alphabet[] = {':', '\r', '\n', '0', '1', '9', 'A', 'F', 'a', 'f', 'G', 0, 0xFF};
  for (TTransmissionMode Mode : {tmRTU, tmASCII}) {
    for (TConnectionMode Role : {cmClient, cmServer, cmMonitor}) {
      const TModbusFraming Conn = Framing(Mode, Role);
      TModbusBuffer Buffer(Conn.MaximumFrameSize());
      for (int Round = 0; Round < 3000; ++Round) {
        // Exactly-sized input so that AddressSanitizer sees any read past it.
        std::vector<std::uint8_t> Input(Random() % 600);
        for (auto& b : Input)
          b = (Random() & 1) ? static_cast<std::uint8_t>(Alphabet[Random() % std::size(Alphabet)])
                             : static_cast<std::uint8_t>(Random());
        if (Mode == tmASCII && !Input.empty() && (Random() & 1)) {
          Input.front() = ':';
          if (Input.size() >= 3) {
            Input[Input.size() - 2] = '\r';
            Input.back() = '\n';
          }
        }
        try {
          if (Conn.Decode(Input.data(), Buffer, static_cast<int>(Input.size())) ==
              TDecodeResult::drOk) {
            ASSERT_GE(Buffer.Size(), Conn.MinimumQuerySize());
          }
          ASSERT_LE(Buffer.Size(), Buffer.Capacity());
        } catch (const EModLinkError& E) {
          ASSERT_STREQ(E.what(), "Failed to decode frame");
        }
      }
    }
  }
}

TEST(Framing, RandomFramesSurviveEncodeAndDecode) {
  std::mt19937 Random(42);
  for (TTransmissionMode Mode : {tmRTU, tmASCII}) {
    const TModbusFraming Conn = Framing(Mode, cmMonitor);
    TModbusBuffer Frame(Conn.MaximumFrameSize());
    TModbusBuffer Decoded(Conn.MaximumFrameSize());
    std::vector<std::uint8_t> Raw(static_cast<std::size_t>(Conn.InterimBufferSize()));
    for (int Round = 0; Round < 500; ++Round) {
      Frame.SetSize(0);
      const int Body = 2 + static_cast<int>(Random() % (MaxFramePDUSize));
      for (int i = 0; i < Body; ++i) Frame.PutByte(static_cast<std::uint8_t>(Random()));
      Conn.EmitErrorCheck(Frame);
      const int RawSize = Conn.Encode(Frame, Raw.data(), static_cast<int>(Raw.size()));
      ASSERT_EQ(Conn.Decode(Raw.data(), Decoded, RawSize), TDecodeResult::drOk);
      ASSERT_EQ(Decoded.Size(), Frame.Size());
      ASSERT_EQ(0, std::memcmp(Decoded.StartPtr(), Frame.StartPtr(),
                               static_cast<std::size_t>(Frame.Size())));
    }
  }
}

TEST(Matching, RepliesAreClassifiedByAddressFunctionAndSize) {
  const TModbusFraming Rtu = Framing(tmRTU);
  TModbusBuffer Query(256), Reply(256);
  Fill(Query, Hex("010300000001840A"));
  Fill(Reply, Hex("018302C0F1"));
  EXPECT_TRUE(Rtu.IsExceptionReply(Reply));
  EXPECT_TRUE(Rtu.CommandsMatch(Query, Reply));
  EXPECT_TRUE(Rtu.HeadersMatch(Query, Reply));
  TServerException Exception = seUnknown;
  std::uint8_t Code = 0;
  Rtu.AcquireServerException(Reply, Exception, Code);
  EXPECT_EQ(Exception, seIllegalDataAddress);
  EXPECT_EQ(Code, 2);

  Fill(Reply, Hex("01830A0000"));
  Rtu.AcquireServerException(Reply, Exception, Code);
  EXPECT_EQ(Exception, seUnknown);
  EXPECT_EQ(Code, 10);
  Fill(Reply, Hex("0183080000"));
  Rtu.AcquireServerException(Reply, Exception, Code);
  EXPECT_EQ(Exception, seMemoryParityError);

  Fill(Reply, Hex("018302C0F100"));  // six bytes: not an exception reply
  EXPECT_FALSE(Rtu.IsExceptionReply(Reply));
  Fill(Reply, Hex("0280020000"));  // 0x80 itself is not above the flag
  EXPECT_FALSE(Rtu.IsExceptionReply(Reply));
  Fill(Reply, Hex("0204020000"));
  EXPECT_FALSE(Rtu.HeadersMatch(Query, Reply));
  EXPECT_FALSE(Rtu.CommandsMatch(Query, Reply));
  EXPECT_FALSE(Rtu.IsExpectedReply(Query, Reply, false));
  EXPECT_TRUE(Rtu.IsExpectedReply(Query, Reply, true));

  EXPECT_EQ(Rtu.AcquireServerAddress(Query), 1);
  EXPECT_EQ(Rtu.AcquireModbusCommand(Query), 3);

  TModbusBuffer Header(4);
  TModbusConnection().EmitHeader(static_cast<const TModbusClient*>(nullptr), Header);
  EXPECT_EQ(Header.StartPtr()[0], BroadcastAddress);
}

TEST(Matching, EchoIsAPrefixOfWhatCameBack) {
  const TBytes Sent = Hex("010300000001840A");
  TBytes Received = Sent;
  EXPECT_TRUE(TModbusFraming::IsEcho(Sent.data(), 8, Received.data(), 8));
  Received.push_back(0x01);
  EXPECT_TRUE(TModbusFraming::IsEcho(Sent.data(), 8, Received.data(), 9));
  EXPECT_FALSE(TModbusFraming::IsEcho(Sent.data(), 8, Received.data(), 7));
  Received[3] = 0x55;
  EXPECT_FALSE(TModbusFraming::IsEcho(Sent.data(), 8, Received.data(), 9));
}

}  // namespace
