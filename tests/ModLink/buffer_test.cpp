// The frame buffer's cursor and mark, the error checks, bit packing, frame holders
// and message formatting.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "BitPacking.h"
#include "Delay.h"
#include "ErrorChecks.h"
#include "FrameData.h"
#include "ModLinkError.h"
#include "ModLinkErrorText.h"
#include "ModbusBuffer.h"

namespace {

const char* NoSpace = "There is not enough space in the buffer to perform the requested action";

void PutBytes(TModbusBuffer& Buffer, std::initializer_list<int> Values) {
  for (int v : Values) Buffer.PutByte(static_cast<std::uint8_t>(v));
}

TEST(ModbusBuffer, PutsAdvanceTheCursorAndRaiseTheMarkWhileGetsOnlyPeek) {
  TModbusBuffer Buffer(8);
  EXPECT_EQ(Buffer.Position(), 0);
  EXPECT_EQ(Buffer.Size(), 0);
  Buffer.GetByte();  // a fresh buffer can be peeked within its capacity

  Buffer.PutWordHiLo(0x1234);
  Buffer.PutWordLoHi(0x1234);
  EXPECT_EQ(Buffer.Position(), 4);
  EXPECT_EQ(Buffer.Size(), 4);
  Buffer.Seek(smBufStart);
  EXPECT_EQ(Buffer.GetWordHiLo(), 0x1234);
  EXPECT_EQ(Buffer.GetByte(), 0x12);
  EXPECT_EQ(Buffer.Position(), 0);
  Buffer.Seek(smNextWord);
  EXPECT_EQ(Buffer.GetWordLoHi(), 0x1234);
  EXPECT_EQ(Buffer.GetWordHiLo(), 0x3412);

  std::uint8_t Out[4] = {};
  Buffer.Seek(smBufStart);
  Buffer.GetBlock(Out, 4);
  EXPECT_EQ(Out[0], 0x12);
  EXPECT_EQ(Out[3], 0x12);
  EXPECT_EQ(Buffer.Position(), 0);
}

TEST(ModbusBuffer, WritingAfterSeekToStartOverwritesInPlace) {
  TModbusBuffer Buffer(10);
  PutBytes(Buffer, {1, 2, 3, 4, 5});
  Buffer.Seek(smBufStart);
  Buffer.PutByte(9);
  EXPECT_EQ(Buffer.Size(), 5);
  EXPECT_EQ(Buffer.StartPtr()[0], 9);
  Buffer.Seek(smBufEnd);
  EXPECT_EQ(Buffer.Position(), 5);
}

TEST(ModbusBuffer, OverflowRaisesAndChangesNothing) {
  TModbusBuffer Buffer(3);
  PutBytes(Buffer, {1, 2, 3});
  EXPECT_EQ(ErrorText([&] { Buffer.PutByte(4); }), NoSpace);
  EXPECT_EQ(Buffer.Size(), 3);
  EXPECT_EQ(Buffer.Position(), 3);
  EXPECT_EQ(ErrorText([&] { Buffer.GetByte(); }), NoSpace);

  Buffer.SetPosition(2);
  EXPECT_EQ(ErrorText([&] { Buffer.PutWordHiLo(0xABCD); }), NoSpace);
  EXPECT_EQ(ErrorText([&] { Buffer.GetWordLoHi(); }), NoSpace);
  const std::uint8_t Block[4] = {};
  EXPECT_EQ(ErrorText([&] { Buffer.PutBlock(Block, 2); }), NoSpace);
  EXPECT_EQ(Buffer.StartPtr()[2], 3);
  Buffer.PutBlock(Block, 0);  // empty and negative blocks do nothing
  Buffer.PutBlock(Block, -5);
  EXPECT_EQ(Buffer.Position(), 2);
}

TEST(ModbusBuffer, PositionAndSizeAreChecked) {
  TModbusBuffer Buffer(8);
  PutBytes(Buffer, {1, 2, 3, 4});
  Buffer.SetPosition(4);  // the mark itself is a valid position
  EXPECT_EQ(ErrorText([&] { Buffer.SetPosition(5); }), "Buffer position is invalid (5)");
  EXPECT_EQ(ErrorText([&] { Buffer.SetSize(9); }), "Buffer size is invalid (9)");
  EXPECT_EQ(ErrorText([&] { Buffer.SetSize(-1); }), "Buffer size is invalid (-1)");
  EXPECT_EQ(Buffer.Size(), 4);

  Buffer.SetSize(2);  // pulls the cursor back to the new mark
  EXPECT_EQ(Buffer.Position(), 2);
  Buffer.SetSize(8);  // bytes are neither cleared nor moved
  EXPECT_EQ(Buffer.StartPtr()[3], 4);

  Buffer.SetPosition(1);
  EXPECT_EQ(ErrorText([&] { Buffer.Seek(smPriorWord); }), "Buffer position is invalid (-1)");
  EXPECT_EQ(Buffer.Position(), 1);
  Buffer.Seek(smPriorByte);
  EXPECT_EQ(Buffer.Position(), 0);
}

TEST(ErrorChecks, KnownVectors) {
  TModbusBuffer Buffer(16);
  PutBytes(Buffer, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(Buffer.CRC16(), 0x0A84);
  EXPECT_EQ(Buffer.LRC8(), 0xFB);
  Buffer.PutWordLoHi(Buffer.CRC16());
  EXPECT_EQ(Buffer.StartPtr()[6], 0x84);
  EXPECT_EQ(Buffer.StartPtr()[7], 0x0A);

  // Only the bytes before the cursor count.
  Buffer.SetPosition(0);
  EXPECT_EQ(Buffer.LRC8(), 0);
  EXPECT_EQ(Buffer.CRC16(), 0xFFFF);

  // The exception reply 01 83 02 with its CRC C0 F1.
  const std::uint8_t Exception[] = {0x01, 0x83, 0x02};
  EXPECT_EQ(CRC16(Exception, 3), 0xF1C0);
}

TEST(ErrorChecks, TableMatchesTheBitwiseAlgorithmOnRandomData) {
  std::mt19937 Random(517);
  for (int Round = 0; Round < 200; ++Round) {
    std::vector<std::uint8_t> Data(Random() % 300);
    for (auto& b : Data) b = static_cast<std::uint8_t>(Random());
    unsigned Crc = 0xFFFF;
    unsigned Sum = 0;
    for (auto b : Data) {
      Crc ^= b;
      for (int i = 0; i < 8; ++i) Crc = (Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1;
      Sum += b;
    }
    ASSERT_EQ(CRC16(Data.data(), Data.size()), Crc);
    ASSERT_EQ(LRC8(Data.data(), Data.size()), static_cast<std::uint8_t>(-Sum));
    // A frame followed by its own CRC checks to zero, its LRC sums to zero.
    auto Framed = Data;
    Framed.push_back(static_cast<std::uint8_t>(Crc & 0xFF));
    Framed.push_back(static_cast<std::uint8_t>(Crc >> 8));
    ASSERT_EQ(CRC16(Framed.data(), Framed.size()), 0);
  }
}

TEST(BitPacking, EncodesLeastSignificantBitFirst) {
  TModbusBuffer Buffer(8);
  EncodeBits({true, false, true, true, false, false, true, true, true, false}, Buffer);
  ASSERT_EQ(Buffer.Size(), 2);
  EXPECT_EQ(Buffer.StartPtr()[0], 0xCD);
  EXPECT_EQ(Buffer.StartPtr()[1], 0x01);

  TModbusBuffer Eight(4);
  EncodeBits(std::vector<bool>(8, true), Eight);
  EXPECT_EQ(Eight.Size(), 1);
  EXPECT_EQ(Eight.StartPtr()[0], 0xFF);

  TModbusBuffer Tight(1);
  EXPECT_EQ(ErrorText([&] { EncodeBits(std::vector<bool>(9, true), Tight); }), NoSpace);
  EXPECT_EQ(Tight.Size(), 0);

  EXPECT_EQ(DetermineEncodedSize(0), 0);
  EXPECT_EQ(DetermineEncodedSize(1), 1);
  EXPECT_EQ(DetermineEncodedSize(8), 1);
  EXPECT_EQ(DetermineEncodedSize(9), 2);
}

TEST(BitPacking, DecodeConsumesOnlyTheBytesItNeeds) {
  TModbusBuffer Buffer(8);
  PutBytes(Buffer, {0xCD, 0x01, 0x77});
  Buffer.Seek(smBufStart);
  std::vector<bool> Bits(10);
  DecodeBits(Buffer, Bits);
  EXPECT_EQ(Bits,
            (std::vector<bool>{true, false, true, true, false, false, true, true, true, false}));
  EXPECT_EQ(Buffer.Position(), 2);

  std::mt19937 Random(7);
  for (int n = 0; n <= 40; ++n) {
    std::vector<bool> In(static_cast<std::size_t>(n));
    for (std::size_t j = 0; j < In.size(); ++j) In[j] = Random() & 1;
    TModbusBuffer Round(8);
    EncodeBits(In, Round);
    Round.Seek(smBufStart);
    std::vector<bool> Out(In.size());
    DecodeBits(Round, Out);
    ASSERT_EQ(Out, In) << n;
  }
}

TEST(FrameData, HoldersAreZeroFilledAndDestroyClearsTheVariable) {
  PFrameData Holder = CreateFrameBuffer(5);
  ASSERT_NE(Holder, nullptr);
  EXPECT_EQ(*Holder, TFrameData(5, 0));
  DestroyFrameBuffer(Holder);
  EXPECT_EQ(Holder, nullptr);
  DestroyFrameBuffer(Holder);  // null: nothing happens
}

TEST(Utilities, DelayZeroReturnsAtOnceAndMessagesFormatSafely) {
  const auto Start = std::chrono::steady_clock::now();
  Delay(0);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(50));

  EXPECT_EQ(FormatMessage("Value must be between %d and %d", {1, 4294967295u}),
            "Value must be between 1 and 4294967295");
  EXPECT_EQ(FormatMessage("%s: %d%%", {"x", -3}), "x: -3%");
  // Missing arguments leave the placeholder instead of reading garbage.
  EXPECT_EQ(FormatMessage("a %d b %s", {}), "a %d b %s");
  EXPECT_EQ(ErrorText([] { InternalError(); }), "Internal error");
}

}  // namespace
