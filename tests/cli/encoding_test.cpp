// The simulator's encoder must be the exact inverse of the tool's decoder:
// every value it serves has to come back as the same text in the grid.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RegisterEncoding.h"
#include "RegisterMap.h"
#include "SimulatedMeter.h"
#include "ValueDecoding.h"

namespace {

using Words = std::vector<std::uint16_t>;

// Decodes `words` as the single entry of a one-line map with the tool's own
// decoding pass and returns the value text and the raw text.
std::pair<std::string, std::string> DecodeWithTool(const std::string& code, const Words& words,
                                                   EByteSequence sequence, bool float32) {
  TRegisterMap map;
  EXPECT_EQ(map.LoadConfigFromBytes(mpQVZT, "x|" + code + "|d\n", TMapSettings{float32, 0}),
            TLoadResult::lrOk);
  map.UpdateGridStruct();
  DecodeRegisters(map, words, TDecodeOptions{sequence, float32, EDecodePath::dpTCP});
  return {map.RegData().at(0), map.RegRawData().at(0)};
}

const EByteSequence ALL_SEQUENCES[] = {BS_1_0_3_2, BS_0_1_2_3, BS_2_3_0_1, BS_3_2_1_0};

}  // namespace

// Published register images: 0x1234, 0x5678 read as a 32-bit integer, and
// 0x1122 .. 0x7788 read as a double bit pattern, under each sequence.
TEST(RegisterEncoding, ReproducesKnownRegisterImages) {
  EXPECT_EQ(EncodeInt32(BS_1_0_3_2, 0x56781234), (Words{0x1234, 0x5678}));
  EXPECT_EQ(EncodeInt32(BS_0_1_2_3, 0x78563412), (Words{0x1234, 0x5678}));
  EXPECT_EQ(EncodeInt32(BS_2_3_0_1, 0x34127856), (Words{0x1234, 0x5678}));
  EXPECT_EQ(EncodeInt32(BS_3_2_1_0, 0x12345678), (Words{0x1234, 0x5678}));

  const Words quad{0x1122, 0x3344, 0x5566, 0x7788};
  auto bits = [](std::uint64_t pattern) { return std::bit_cast<double>(pattern); };
  EXPECT_EQ(EncodeDouble(BS_1_0_3_2, bits(0x7788556633441122ULL)), quad);
  EXPECT_EQ(EncodeDouble(BS_0_1_2_3, bits(0x8877665544332211ULL)), quad);
  EXPECT_EQ(EncodeDouble(BS_2_3_0_1, bits(0x2211443366558877ULL)), quad);
  EXPECT_EQ(EncodeDouble(BS_3_2_1_0, bits(0x1122334455667788ULL)), quad);

  EXPECT_EQ(EncodeWord(BS_1_0_3_2, 258), Words{0x0102});
  EXPECT_EQ(EncodeWord(BS_3_2_1_0, 258), Words{0x0102});
  EXPECT_EQ(EncodeWord(BS_0_1_2_3, 513), Words{0x0102});
  EXPECT_EQ(EncodeWord(BS_2_3_0_1, 513), Words{0x0102});
}

TEST(RegisterEncoding, RejectsSizesAndSequencesItCannotLayOut) {
  const std::uint8_t three[3] = {1, 2, 3};
  EXPECT_TRUE(EncodeValueBytes(BS_1_0_3_2, three).empty());
  const std::uint8_t two[2] = {1, 2};
  EXPECT_TRUE(EncodeValueBytes(static_cast<EByteSequence>(7), two).empty());
}

class RoundTrip : public ::testing::TestWithParam<EByteSequence> {};

TEST_P(RoundTrip, EveryTypeComesBackAsTheSameText) {
  const EByteSequence seq = GetParam();
  struct Case {
    std::string code;
    Words words;
    bool float32;
    std::string text;
  };
  const std::uint16_t date3[] = {2026, 12, 8};
  const std::uint16_t time3[] = {23, 59, 7};
  const Case cases[] = {
      {"i", EncodeWord(seq, 65534), false, "65534"},
      {"i", EncodeWord(seq, 7), false, "7"},
      {"I", EncodeInt32(seq, -123456789), false, "-123456789"},
      {"I", EncodeInt32(seq, 51701042), false, "51701042"},
      {"f", EncodeFloat(seq, 230.47f), false, "230.47"},
      {"f", EncodeFloat(seq, -1.25f), false, "-1.25"},
      {"F", EncodeDouble(seq, 64123.45), false, "64123.45"},
      {"F", EncodeFloat(seq, 49.98f), true, "49.98"},
      {"D", EncodeInt32(seq, 20261208), false, "08/12/2026"},
      {"T", EncodeInt32(seq, 93005), false, "09:30:05"},
      {"d", EncodeWordFields(seq, date3), false, "08/12/2026"},
      {"t", EncodeWordFields(seq, time3), false, "23:59:07"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code + " " + c.text);
    const auto [value, raw] = DecodeWithTool(c.code, c.words, seq, c.float32);
    EXPECT_EQ(value, c.text);
    EXPECT_EQ(raw, RawRegisterText(c.words));
  }
}

INSTANTIATE_TEST_SUITE_P(AllByteSequences, RoundTrip, ::testing::ValuesIn(ALL_SEQUENCES));

// The texts the simulator predicts must match the tool's formatting.
TEST(ServedTexts, TwoDecimalTextAndRawTextMatchTheToolsFormatting) {
  for (double v : {0.0, 3.0, 2.5, -1.24, 230.47, 64999.99, 0.01, -0.0}) {
    EXPECT_EQ(TwoDecimalText(v), FormatFloat2(v, ".")) << v;
  }
  const std::uint8_t wire[] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(RawRegisterText({0x1234, 0x5678}), DumpHex(wire, 4));
  EXPECT_EQ(RawRegisterText({0x1234, 0x5678}), "78563412");
}
