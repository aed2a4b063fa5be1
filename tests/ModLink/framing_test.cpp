// RTU and ASCII framing: sizes, encoding, decoding (also of generated garbage),
// reply matching. Check vectors were produced with pymodbus's CRC and LRC routines.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "ModLinkError.h"
#include "ModbusConnection.h"
#include "ModbusTransaction.h"

namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Hex(const std::string& Text) {
  TBytes Result;
  for (std::size_t i = 0; i + 1 < Text.size(); i += 2)
    Result.push_back(static_cast<std::uint8_t>(std::stoi(Text.substr(i, 2), nullptr, 16)));
  return Result;
}

TBytes Text(const std::string& Value) { return TBytes(Value.begin(), Value.end()); }

void Fill(TModbusBuffer& Buffer, const TBytes& Bytes) {
  Buffer.SetSize(0);
  Buffer.PutBlock(Bytes.data(), static_cast<int>(Bytes.size()));
}

template <typename Fn>
std::string ErrorText(Fn&& Action) {
  try {
    Action();
  } catch (const EModLinkError& E) {
    return E.what();
  }
  return "<no error>";
}

TModbusConnection& Connection(TTransmissionMode Mode, TConnectionMode Role = cmClient) {
  static TModbusConnection Instance;
  Instance.SetTransmissionMode(Mode);
  Instance.SetConnectionMode(Role);
  return Instance;
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

  TModbusConnection& Rtu = Connection(tmRTU);
  Fill(Buffer, Body);
  Rtu.EmitErrorCheck(Buffer);
  TBytes Expected = Body;
  for (auto b : Hex(V.Crc)) Expected.push_back(b);
  EXPECT_EQ(TBytes(Buffer.StartPtr(), Buffer.StartPtr() + Buffer.Size()), Expected);
  EXPECT_TRUE(Rtu.ErrorChecksEqual(Buffer));
  Buffer.StartPtr()[0] ^= 0x01;
  EXPECT_FALSE(Rtu.ErrorChecksEqual(Buffer));

  TModbusConnection& Ascii = Connection(tmASCII);
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
  TModbusConnection& Rtu = Connection(tmRTU);
  EXPECT_EQ(Rtu.DetermineHeaderSize(), 1);
  EXPECT_EQ(Rtu.DetermineErrorCheckSize(), 2);
  EXPECT_EQ(Rtu.DetermineMinimumQuerySize(), 4);
  EXPECT_EQ(Rtu.DetermineMinimumReplySize(), 5);
  EXPECT_EQ(Rtu.DetermineMaximumFrameSize(), 256);
  EXPECT_EQ(Rtu.DetermineInterimBufferSize(), 256);
  TModbusConnection& Ascii = Connection(tmASCII);
  EXPECT_EQ(Ascii.DetermineErrorCheckSize(), 1);
  EXPECT_EQ(Ascii.DetermineMinimumQuerySize(), 3);
  EXPECT_EQ(Ascii.DetermineMinimumReplySize(), 4);
  EXPECT_EQ(Ascii.DetermineMaximumFrameSize(), 255);
  EXPECT_EQ(Ascii.DetermineInterimBufferSize(), 513);
  EXPECT_EQ(Connection(tmASCII, cmClient).DetermineMinimumRawFrameSize(), 11);
  EXPECT_EQ(Connection(tmASCII, cmServer).DetermineMinimumRawFrameSize(), 9);
  EXPECT_EQ(Connection(tmASCII, cmMonitor).DetermineMinimumRawFrameSize(), 9);
  EXPECT_EQ(Connection(tmRTU, cmMonitor).DetermineMinimumRawFrameSize(), 4);
  EXPECT_EQ(Connection(tmRTU, cmClient).DetermineMinimumRawFrameSize(), 5);
}

TEST(Framing, EncodeRtuAndAscii) {
  TModbusBuffer Buffer(256);
  std::uint8_t Raw[600];

  Fill(Buffer, Hex("010300000001840A"));
  EXPECT_EQ(Connection(tmRTU).EncodeFrame(Buffer, Raw, sizeof Raw), 8);
  EXPECT_EQ(TBytes(Raw, Raw + 8), Hex("010300000001840A"));

  Fill(Buffer, Hex("010300000001FB"));
  ASSERT_EQ(Connection(tmASCII).EncodeFrame(Buffer, Raw, sizeof Raw), 17);
  EXPECT_EQ(TBytes(Raw, Raw + 17), Text(":010300000001FB\r\n"));

  // The destination must take the whole raw frame.
  EXPECT_EQ(ErrorText([&] { Connection(tmASCII).EncodeFrame(Buffer, Raw, 16); }), "Failed to encode frame");
  Fill(Buffer, Hex("010300000001840A"));
  EXPECT_EQ(ErrorText([&] { Connection(tmRTU).EncodeFrame(Buffer, Raw, 7); }), "Failed to encode frame");

  Buffer.SetSize(0);
  EXPECT_EQ(Connection(tmRTU).EncodeFrame(Buffer, Raw, 0), 0);
}

TEST(Framing, DecodeAsciiDigitsAsTheLineDecoderReadsThem) {
  TModbusConnection& Ascii = Connection(tmASCII);
  TModbusBuffer Buffer(255);
  const TBytes Frame = Text(":010300000001FB\r\n");
  ASSERT_TRUE(Ascii.DecodeFrame(Frame.data(), Buffer, static_cast<int>(Frame.size())));
  EXPECT_EQ(TBytes(Buffer.StartPtr(), Buffer.StartPtr() + Buffer.Size()), Hex("010300000001FB"));

  // A lower-case letter is right as the high digit, and as the low digit only where
  // bit 5 is already set: fb still gives 0xFB, while 0a gives 0x2A.
  const TBytes Lower = Text(":010300000001fb\r\n");
  EXPECT_TRUE(Ascii.DecodeFrame(Lower.data(), Buffer, static_cast<int>(Lower.size())));
  EXPECT_EQ(Buffer.StartPtr()[6], 0xFB);
  const TBytes Pair0a = Text(":0a0300000001FB\r\n");
  Ascii.DecodeFrame(Pair0a.data(), Buffer, static_cast<int>(Pair0a.size()));
  EXPECT_EQ(Buffer.StartPtr()[0], 0x2A);
}

TEST(Framing, DecodeRejectsMalformedFramesWithoutRaising) {
  TModbusConnection& Ascii = Connection(tmASCII);
  TModbusBuffer Buffer(255);
  for (const char* Bad : {":010300000001FB\r", ":010300000001FB\n\r", "010300000001FB\r\n!",
                          ":010300000001FC\r\n", ":0103\r\n", ":010300000001FB\rX"}) {
    const TBytes Frame = Text(Bad);
    EXPECT_FALSE(Ascii.DecodeFrame(Frame.data(), Buffer, static_cast<int>(Frame.size()))) << Bad;
  }
  // A frame whose decoded size exceeds the buffer raises.
  TModbusBuffer Small(4);
  const TBytes Long = Text(":010300000001FB\r\n");
  EXPECT_EQ(ErrorText([&] { Ascii.DecodeFrame(Long.data(), Small, static_cast<int>(Long.size())); }),
            "Failed to decode frame");

  TModbusConnection& Rtu = Connection(tmRTU, cmClient);
  const TBytes Four = Hex("01830241");
  EXPECT_FALSE(Rtu.DecodeFrame(Four.data(), Buffer, 4));
  EXPECT_FALSE(Rtu.DecodeFrame(Four.data(), Buffer, -1));
  const TBytes Query = Hex("010300000001840A");
  TModbusBuffer Tiny(7);
  EXPECT_EQ(ErrorText([&] { Rtu.DecodeFrame(Query.data(), Tiny, 8); }), "Failed to decode frame");
  TModbusConnection& Server = Connection(tmRTU, cmServer);
  const TBytes MinimalQuery = Hex("010741E2");
  EXPECT_TRUE(Server.DecodeFrame(MinimalQuery.data(), Buffer, 4));
}

TEST(Framing, GeneratedGarbageIsDecodedOrRejectedNeverMisread) {
  std::mt19937 Random(2026);
  const int Alphabet[] = {':', '\r', '\n', '0', '1', '9', 'A', 'F', 'a', 'f', 'G', 0, 0xFF};
  for (TTransmissionMode Mode : {tmRTU, tmASCII}) {
    for (TConnectionMode Role : {cmClient, cmServer, cmMonitor}) {
      TModbusConnection& Conn = Connection(Mode, Role);
      TModbusBuffer Buffer(Conn.DetermineMaximumFrameSize());
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
          if (Conn.DecodeFrame(Input.data(), Buffer, static_cast<int>(Input.size()))) {
            ASSERT_GE(Buffer.Size(), Conn.DetermineMinimumQuerySize());
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
    TModbusConnection& Conn = Connection(Mode, cmMonitor);
    TModbusBuffer Frame(Conn.DetermineMaximumFrameSize());
    TModbusBuffer Decoded(Conn.DetermineMaximumFrameSize());
    std::vector<std::uint8_t> Raw(static_cast<std::size_t>(Conn.DetermineInterimBufferSize()));
    for (int Round = 0; Round < 500; ++Round) {
      Frame.SetSize(0);
      const int Body = 2 + static_cast<int>(Random() % (MaxFramePDUSize));
      for (int i = 0; i < Body; ++i) Frame.PutByte(static_cast<std::uint8_t>(Random()));
      Conn.EmitErrorCheck(Frame);
      const int RawSize = Conn.EncodeFrame(Frame, Raw.data(), static_cast<int>(Raw.size()));
      ASSERT_TRUE(Conn.DecodeFrame(Raw.data(), Decoded, RawSize));
      ASSERT_EQ(Decoded.Size(), Frame.Size());
      ASSERT_EQ(0, std::memcmp(Decoded.StartPtr(), Frame.StartPtr(), static_cast<std::size_t>(Frame.Size())));
    }
  }
}

TEST(Matching, RepliesAreClassifiedByAddressFunctionAndSize) {
  TModbusConnection& Rtu = Connection(tmRTU);
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
  Rtu.EmitHeader(static_cast<const TModbusClient*>(nullptr), Header);
  EXPECT_EQ(Header.StartPtr()[0], BroadcastAddress);
}

TEST(Matching, EchoIsAPrefixOfWhatCameBack) {
  const TBytes Sent = Hex("010300000001840A");
  TBytes Received = Sent;
  EXPECT_TRUE(TModbusConnection::IsEcho(Sent.data(), 8, Received.data(), 8));
  Received.push_back(0x01);
  EXPECT_TRUE(TModbusConnection::IsEcho(Sent.data(), 8, Received.data(), 9));
  EXPECT_FALSE(TModbusConnection::IsEcho(Sent.data(), 8, Received.data(), 7));
  Received[3] = 0x55;
  EXPECT_FALSE(TModbusConnection::IsEcho(Sent.data(), 8, Received.data(), 9));
}

}  // namespace
