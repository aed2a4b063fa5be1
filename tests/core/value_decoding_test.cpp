// Byte sequences, number/date/time texts and the decoding pass of both cycles.
#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "ValueDecoding.h"

namespace {

// Wire bytes of registers: high byte first, as on the Modbus line.
std::vector<std::uint8_t> Wire(const std::vector<std::uint16_t>& regs) {
  std::vector<std::uint8_t> b;
  for (auto r : regs) {
    b.push_back(static_cast<std::uint8_t>(r >> 8));
    b.push_back(static_cast<std::uint8_t>(r & 0xFF));
  }
  return b;
}

std::uint16_t ByteSwap(std::uint16_t r) {
  return static_cast<std::uint16_t>((r << 8) | (r >> 8));
}

// Reference: the value as the operator reads it from registers R0..Rn-1.
// "Low word first" sequences put R0 in the least significant word; the
// "exchanged" ones swap the two bytes of every register first.
std::uint64_t Reference(EByteSequence seq, std::vector<std::uint16_t> regs) {
  const bool exchanged = seq == BS_0_1_2_3 || seq == BS_2_3_0_1;
  const bool lowWordFirst = seq == BS_1_0_3_2 || seq == BS_0_1_2_3;
  if (regs.size() == 1) return exchanged ? ByteSwap(regs[0]) : regs[0];
  std::uint64_t v = 0;
  for (std::size_t k = 0; k < regs.size(); ++k) {
    const std::uint16_t r = exchanged ? ByteSwap(regs[k]) : regs[k];
    const std::size_t word = lowWordFirst ? k : regs.size() - 1 - k;
    v |= std::uint64_t{r} << (16 * word);
  }
  return v;
}

std::uint64_t Swapped(EByteSequence seq, const std::vector<std::uint16_t>& regs) {
  const auto wire = Wire(regs);
  std::uint8_t d[8] = {};
  SmartSwap(seq, d, wire.data(), static_cast<std::int32_t>(wire.size()));
  std::uint64_t v = 0;
  for (std::size_t i = wire.size(); i-- > 0;) v = (v << 8) | d[i];
  return v;
}

class SmartSwapSequence : public testing::TestWithParam<EByteSequence> {};

TEST_P(SmartSwapSequence, MatchesTheRegisterReadingFor2_4And8Bytes) {
  std::mt19937 rng(1234);
  for (std::size_t count : {1u, 2u, 4u}) {
    for (int n = 0; n < 200; ++n) {
      std::vector<std::uint16_t> regs(count);
      for (auto& r : regs) r = static_cast<std::uint16_t>(rng());
      EXPECT_EQ(Swapped(GetParam(), regs), Reference(GetParam(), regs)) << count << " registers";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, SmartSwapSequence,
                         testing::Values(BS_1_0_3_2, BS_0_1_2_3, BS_2_3_0_1, BS_3_2_1_0));

TEST(SmartSwap, KnownPatternsAndUnsupportedArgumentsLeaveTheDestination) {
  EXPECT_EQ(Swapped(BS_1_0_3_2, {0x1234, 0x5678}), 0x56781234u);
  EXPECT_EQ(Swapped(BS_0_1_2_3, {0x1234, 0x5678}), 0x78563412u);
  EXPECT_EQ(Swapped(BS_2_3_0_1, {0x1234, 0x5678}), 0x34127856u);
  EXPECT_EQ(Swapped(BS_3_2_1_0, {0x1234, 0x5678}), 0x12345678u);
  const std::vector<std::uint16_t> four = {0x1122, 0x3344, 0x5566, 0x7788};
  EXPECT_EQ(Swapped(BS_1_0_3_2, four), 0x7788556633441122u);
  EXPECT_EQ(Swapped(BS_0_1_2_3, four), 0x8877665544332211u);
  EXPECT_EQ(Swapped(BS_2_3_0_1, four), 0x2211443366558877u);
  EXPECT_EQ(Swapped(BS_3_2_1_0, four), 0x1122334455667788u);

  const std::uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::uint8_t dst[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  SmartSwap(BS_3_2_1_0, dst, src, 3);
  SmartSwap(BS_3_2_1_0, dst, src, -4);
  SmartSwap(static_cast<EByteSequence>(4), dst, src, 4);
  for (auto b : dst) EXPECT_EQ(b, 9);
}

TEST(DumpHex, LastByteFirstUppercase) {
  const auto wire = Wire({0x1234, 0xABCD});
  EXPECT_EQ(DumpHex(wire.data(), 2), "3412");
  EXPECT_EQ(DumpHex(wire.data(), 4), "CDAB3412");
  EXPECT_EQ(DumpHex(wire.data(), 0), "");
  EXPECT_EQ(DumpHex(wire.data(), -1), "");
}

TEST(DataTypeName, DoubleFollowsTheFloat32OptionAndUnknownIsMarked) {
  EXPECT_EQ(DataTypeName(eDouble, false), "FLOAT64");
  EXPECT_EQ(DataTypeName(eDouble, true), "FLOAT32");
  EXPECT_EQ(DataTypeName(eDate, false), "INT32");
  EXPECT_EQ(DataTypeName(eTimeStamp12, false), "TS96");
  EXPECT_EQ(DataTypeName(static_cast<ERegisterType>(9), false), "???");
}

TEST(FormatFloat2, RoundsToTwoDecimalsWithoutTrailingZeros) {
  EXPECT_EQ(FormatFloat2(2.5, "."), "2.5");
  EXPECT_EQ(FormatFloat2(3.0, "."), "3");
  EXPECT_EQ(FormatFloat2(-1.236, "."), "-1.24");
  EXPECT_EQ(FormatFloat2(0.004, "."), "0");
  EXPECT_EQ(FormatFloat2(-0.004, "."), "0");
  EXPECT_EQ(FormatFloat2(0.005, "."), "0.01");
  EXPECT_EQ(FormatFloat2(1.005, "."), "1.01");
  EXPECT_EQ(FormatFloat2(9.995, "."), "10");
  EXPECT_EQ(FormatFloat2(-99.999, "."), "-100");
  EXPECT_EQ(FormatFloat2(0.1, "."), "0.1");
  EXPECT_EQ(FormatFloat2(1234567.891, "."), "1234567.89");
  EXPECT_EQ(FormatFloat2(1e20, "."), "100000000000000000000");
  EXPECT_EQ(FormatFloat2(std::numeric_limits<double>::denorm_min(), "."), "0");
  EXPECT_EQ(FormatFloat2(2.5, ","), "2,5");
  EXPECT_EQ(FormatFloat2(-1234.5, ","), "-1234,5");
}

// The C library's locale must not reach the texts: under it_IT printf wrote
// "2,2727e+02" and 227.27 came out as "2,2,73".
// The Italian locale by its Linux name or, on Windows, by the system's own.
const char* SetItalianLocale() {
  for (const char* name : {"it_IT.UTF-8", "it-IT", "Italian_Italy.1252"})
    if (const char* set = std::setlocale(LC_ALL, name)) return set;
  return nullptr;
}

TEST(FormatFloat2, IgnoresTheCLibraryLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(SetItalianLocale(), nullptr)
      << "the it_IT.UTF-8 locale is missing (scripts/install-deps.sh generates it)";
  const std::string texts[] = {FormatFloat2(227.27, "."), FormatFloat2(10836.39, ","),
                               FormatFloat2(50.03, "."), FormatFloat2(-0.5, ".")};
  std::setlocale(LC_ALL, previous.c_str());
  EXPECT_EQ(texts[0], "227.27");
  EXPECT_EQ(texts[1], "10836,39");
  EXPECT_EQ(texts[2], "50.03");
  EXPECT_EQ(texts[3], "-0.5");
}

TEST(FormatFloat2, SpecialValues) {
  EXPECT_EQ(FormatFloat2(std::nan(""), "."), "NAN");
  EXPECT_EQ(FormatFloat2(std::numeric_limits<double>::infinity(), "."), "INF");
  EXPECT_EQ(FormatFloat2(-std::numeric_limits<double>::infinity(), "."), "-INF");
  EXPECT_EQ(FormatFloat2(std::numeric_limits<double>::max(), ".").size(), 309u);
}

TEST(DateTimeText, PadsAndKeepsTheSignOfTruncatingDivision) {
  EXPECT_EQ(DateText(20200131), "31/01/2020");
  EXPECT_EQ(TimeText(93005), "09:30:05");
  EXPECT_EQ(DateText(0), "00/00/0000");
  EXPECT_EQ(DateText(123456789), "89/67/12345");
  EXPECT_EQ(DateText(-20200131), "-31/-01/-2020");
  EXPECT_EQ(TimeText(-5), "00:00:-05");
  EXPECT_EQ(TimeText(-93005), "-09:-30:-05");
  EXPECT_EQ(DateText(std::numeric_limits<std::int32_t>::min()), "-48/-36/-214748");
}

// What JSON carries for dates and times: calendar dates and times of day only.
TEST(IsoTexts, CalendarDatesAndTimesOfDayOnly) {
  EXPECT_EQ(IsoDateText(20261209), "2026-12-09");
  EXPECT_EQ(IsoDateText(20240229), "2024-02-29");
  for (const std::int32_t v : {20230229, 20261301, 20261200, -20261209, 660935})
    EXPECT_FALSE(IsoDateText(v)) << v;
  EXPECT_EQ(IsoTimeOfDayText(152543), "15:25:43");
  for (const std::int32_t v : {240000, 126000, 120060, -1}) EXPECT_FALSE(IsoTimeOfDayText(v)) << v;
}

// A map of the given lines (QVZT: no firmware entry) ready for a decoding pass.
TRegisterMap MapOf(const char* lines, EMapType type = mpQVZT, bool float32 = false) {
  TRegisterMap map;
  EXPECT_EQ(map.LoadConfigFromBytes(type, lines, {float32, 0}), TLoadResult::lrOk);
  map.UpdateGridStruct();
  return map;
}

TEST(DecodePass, EveryTypeUnderTheDefaultSequence) {
  TRegisterMap map =
      MapOf("w|i|d\nn|I|d\nf|f|d\nF|F|d\nD|D|d\nT|T|d\nt|t|d\nd|d|d\nu|u|d\nw|i|d\n");
  const double d = 1234.5678;
  const auto dbits = std::bit_cast<std::uint64_t>(d);
  const auto fbits = std::bit_cast<std::uint32_t>(-2.5f);
  const std::vector<std::uint16_t> words = {0x0102,  // i
                                            0xFFFE,
                                            0xFFFF,  // I = -2, low word first
                                            static_cast<std::uint16_t>(fbits),
                                            static_cast<std::uint16_t>(fbits >> 16),
                                            static_cast<std::uint16_t>(dbits),
                                            static_cast<std::uint16_t>(dbits >> 16),
                                            static_cast<std::uint16_t>(dbits >> 32),
                                            static_cast<std::uint16_t>(dbits >> 48),
                                            static_cast<std::uint16_t>(20200131 & 0xFFFF),
                                            static_cast<std::uint16_t>(20200131 >> 16),
                                            static_cast<std::uint16_t>(93005 & 0xFFFF),
                                            static_cast<std::uint16_t>(93005 >> 16),
                                            23,
                                            59,
                                            7,  // t
                                            2020,
                                            1,
                                            31,  // d
                                            1,
                                            2,
                                            3,
                                            4,
                                            5,
                                            6,  // u
                                            0xFFFF};
  map.SetBaseAddress(3000);
  DecodeRegisters(map, words, {BS_1_0_3_2, false, EDecodePath::dpTCP});
  EXPECT_EQ(map.RegData(),
            (std::vector<std::string>{"258", "-2", "-2.5", "1234.57", "31/01/2020", "09:30:05",
                                      "23:59:07", "31/01/2020", "", "65535"}));
  // Each text's number beside it, in the precision it came in.
  EXPECT_EQ(map.RegNumbers(), (std::vector<TEntryNumber>{
                                  std::int64_t{258}, std::int64_t{-2}, -2.5f, d,
                                  std::int64_t{20200131}, std::int64_t{93005}, std::int64_t{235907},
                                  std::int64_t{20200131}, TEntryNumber{}, std::int64_t{65535}}));
  EXPECT_EQ(map.RegRawData()[0], "0201");
  EXPECT_EQ(map.RegRawData()[1], "FFFFFEFF");
  EXPECT_EQ(map.RegRawData()[6], "07003B001700");
  EXPECT_EQ(map.RegRawData()[8], "");
  std::vector<std::string> addresses;
  for (const auto& r : map.Regs()) addresses.push_back(r.regAddress);
  EXPECT_EQ(addresses, (std::vector<std::string>{"3000", "3001", "3003", "3005", "3009", "3011",
                                                 "3013", "3016", "3019", "3025"}));
}

TEST(DecodePass, Float32LayoutReadsDoublesAsSinglesAndTheCommaGoesInWhereShown) {
  TRegisterMap map = MapOf("a|F|d\nb|i|d\n", mpQVZT, true);
  const auto bits = std::bit_cast<std::uint32_t>(2.5f);
  const std::vector<std::uint16_t> words = {static_cast<std::uint16_t>(bits >> 16),
                                            static_cast<std::uint16_t>(bits), 0x0102};
  DecodeRegisters(map, words, {BS_3_2_1_0, true, EDecodePath::dpTCP});
  EXPECT_EQ(map.RegData(), (std::vector<std::string>{"2.5", "258"}));
  EXPECT_EQ(WithDecimalSeparator(map.RegData()[0], ","), "2,5");
  EXPECT_EQ(map.Regs()[1].regAddress, "2");
  // The same word under an exchanging sequence.
  DecodeRegisters(map, words, {BS_0_1_2_3, true, EDecodePath::dpTCP});
  EXPECT_EQ(map.RegData()[1], "513");
}

TEST(DecodePass, NotANumberAndInfinityTexts) {
  TRegisterMap map = MapOf("a|f|d\nb|f|d\nc|F|d\n");
  DecodeRegisters(map, std::vector<std::uint16_t>{0xFFFF, 0xFFFF, 0x0000, 0xFF80, 0, 0, 0, 0x7FF0},
                  {BS_1_0_3_2, false, EDecodePath::dpTCP});
  EXPECT_EQ(map.RegData(), (std::vector<std::string>{"NAN", "-INF", "INF"}));
}

TEST(DecodePass, SerialShowsValuesOnlyWhenTheFirstWordAnswers) {
  TRegisterMap map = MapOf("a|I|desc\n", mpNormal);
  const TDecodeOptions serial{BS_1_0_3_2, false, EDecodePath::dpSerial};
  DecodeRegisters(map, std::vector<std::uint16_t>{0xFFFF, 0x0005, 0x0000}, serial);
  EXPECT_EQ(map.RegData(), (std::vector<std::string>{"<N/A>", "<N/A>"}));
  EXPECT_EQ(map.RegRawData(), (std::vector<std::string>{"FFFF", "00000500"}));

  DecodeRegisters(map, std::vector<std::uint16_t>{0x0102, 0x0005, 0x0000}, serial);
  EXPECT_EQ(map.RegData(), (std::vector<std::string>{"258", "5"}));

  // A first entry of another type never makes values available.
  TRegisterMap qvzt = MapOf("a|I|d\nb|i|d\n");
  DecodeRegisters(qvzt, std::vector<std::uint16_t>{1, 0, 7}, serial);
  EXPECT_EQ(qvzt.RegData(), (std::vector<std::string>{"<N/A>", "<N/A>"}));
  EXPECT_EQ(qvzt.RegRawData()[1], "0700");
}

TEST(DecodePass, ShortReplyDecodesWhatArrivedAndNeverReadsFurther) {
  TRegisterMap map = MapOf("a|i|d\nb|F|d\nc|i|d\n");
  // Heap copies of exactly the received length let the sanitizer catch an over-read.
  for (std::size_t n = 0; n <= 6; ++n) {
    std::vector<std::uint16_t> words(n, 0x0001);
    DecodeRegisters(map, words, {BS_1_0_3_2, false, EDecodePath::dpTCP});
    EXPECT_EQ(map.RegData()[0], n >= 1 ? "1" : "<N/A>") << n;
    EXPECT_EQ(map.RegData()[1] == "<N/A>", n < 5) << n;
    EXPECT_EQ(map.RegData()[2], n >= 6 ? "1" : "<N/A>") << n;
    EXPECT_EQ(map.Regs()[2].regAddress, "5");
  }
}

TEST(DecodePass, TextsFollowTheMapEvenWithoutAGridRebuild) {
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfigFromBytes(mpQVZT, "a|i|d\nb|i|d\n", {false, 0}), TLoadResult::lrOk);
  DecodeRegisters(map, std::vector<std::uint16_t>{1, 2}, {});
  EXPECT_EQ(map.RegData().size(), 2u);
  EXPECT_EQ(map.RegRawData().size(), 2u);
}

}  // namespace
