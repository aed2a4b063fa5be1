// Loading register maps, counters, addresses and the grid texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "RegisterMap.h"

namespace {

constexpr TMapSettings kInstance1{false, 0};
constexpr TMapSettings kInstance1Float32{true, 0};

std::vector<std::string> Addresses(const TRegisterMap& map) {
  std::vector<std::string> out;
  for (const auto& r : map.Regs()) out.push_back(r.regAddress);
  return out;
}

using V = std::vector<std::string>;

TEST(RegisterMapLoad, NormalMapStartsWithTheFirmwareVersionAndCountsTheLayouts) {
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "x|F|y", kInstance1), TLoadResult::lrOk);
  ASSERT_EQ(map.Regs().size(), 2u);
  EXPECT_EQ(map.Regs()[0], (TConfigRecord{"", eWord, "Versione Firmware VIVAR517", "0"}));
  EXPECT_EQ(map.Regs()[1], (TConfigRecord{"x", eDouble, "y", "1"}));
  EXPECT_EQ(map.MBRegCount(), 5);
  EXPECT_EQ(map.MBFPRegSingleDelta(), 2);
  EXPECT_EQ(map.RequestSize(kInstance1), 5);

  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "x|F|y", kInstance1Float32), TLoadResult::lrOk);
  EXPECT_EQ(Addresses(map), (V{"200", "201"}));
  EXPECT_EQ(map.RequestSize(kInstance1Float32), 3);

  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "x|F|y", {false, 2}), TLoadResult::lrOk);
  EXPECT_EQ(Addresses(map), (V{"2000", "2001"}));
}

TEST(RegisterMapLoad, BaseAddressPerInstanceAndFloat32Option) {
  const std::uint16_t expected[2][5] = {{0, 1000, 2000, 3000, 4000}, {200, 1200, 2200, 3200, 4200}};
  for (int f = 0; f < 2; ++f) {
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(BaseAddressFor({f == 1, i}), expected[f][i]) << "float32 " << f << " index " << i;
    }
  }
}

TEST(RegisterMapLoad, EntryOffsetsFollowTheLayoutAndCalcAddressRecomputesThem) {
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "a|F|p\nb|i|q\n", kInstance1), TLoadResult::lrOk);
  EXPECT_EQ(Addresses(map), (V{"0", "1", "5"}));
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "a|F|p\nb|i|q\n", kInstance1Float32),
            TLoadResult::lrOk);
  EXPECT_EQ(Addresses(map), (V{"200", "201", "203"}));

  map.CalcAddress({false, 4});
  EXPECT_EQ(Addresses(map), (V{"4000", "4001", "4005"}));
  map.CalcAddress({true, 1});
  EXPECT_EQ(Addresses(map), (V{"1200", "1201", "1203"}));
}

TEST(RegisterMapLoad, QvztMapHasNoFirmwareEntry) {
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfigFromBytes(mpQVZT, "a|u|p\r\nb|t|q\r\n", {false, 1}), TLoadResult::lrOk);
  EXPECT_EQ(Addresses(map), (V{"1000", "1006"}));
  EXPECT_EQ(map.MBRegCount(), 9);
  EXPECT_EQ(map.RequestSize({false, 1}), 9);

  ASSERT_EQ(map.LoadConfigFromBytes(mpQVZT, "", kInstance1), TLoadResult::lrOk);
  EXPECT_TRUE(map.Regs().empty());
  EXPECT_EQ(map.RequestSize(kInstance1), 0);
}

struct TLineCase {
  const char* line;
  bool valid;
};

// Test names in CTest's listing show the line, its line ends spelled out.
void PrintTo(const TLineCase& Case, std::ostream* Out) {
  for (const char* c = Case.line; *c; ++c)
    *Out << (*c == '\n' ? "\\n" : *c == '\r' ? "\\r" : std::string(1, *c));
}

class RegisterMapLine : public testing::TestWithParam<TLineCase> {};

TEST_P(RegisterMapLine, OnlyThreeFieldsWithAnExactMapCodeAreValid) {
  TRegisterMap map;
  const auto result = map.LoadConfigFromBytes(mpQVZT, GetParam().line, kInstance1);
  EXPECT_EQ(result == TLoadResult::lrOk, GetParam().valid) << '"' << GetParam().line << '"';
  EXPECT_EQ(map.Regs().size(), GetParam().valid ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Lines, RegisterMapLine,
                         testing::Values(TLineCase{"x|F|y", true}, TLineCase{"x|F|y|", true},
                                         TLineCase{"x|F|", false}, TLineCase{"x|F||", true},
                                         TLineCase{"x|F|y|z", false}, TLineCase{"x|F|y||", false},
                                         TLineCase{"a|b|F|y", false}, TLineCase{"x|F|a|b", false},
                                         TLineCase{"|F|", false}, TLineCase{"|F||", true},
                                         TLineCase{"x|F ", false}, TLineCase{"x|F |y", false},
                                         TLineCase{"x|X|y", false}, TLineCase{"x||y", false},
                                         TLineCase{"x|FF|y", false}, TLineCase{"\n", false},
                                         TLineCase{"x|F|y\n\n", false},
                                         TLineCase{"x|F|y\r\n", true}, TLineCase{"x|F|y\r", true}));

TEST(RegisterMapLoad, MapCodesAreCaseSensitive) {
  const std::pair<const char*, ERegisterType> codes[] = {
      {"i", eWord}, {"I", eInteger}, {"f", eFloat}, {"F", eDouble},     {"D", eDate},
      {"T", eTime}, {"t", eTime3},   {"d", eDate3}, {"u", eTimeStamp12}};
  for (const auto& [code, type] : codes) {
    TRegisterMap map;
    ASSERT_EQ(map.LoadConfigFromBytes(mpQVZT, std::string("o|") + code + "|d", kInstance1),
              TLoadResult::lrOk)
        << code;
    EXPECT_EQ(map.Regs()[0].regType, type) << code;
  }
  TRegisterMap map;
  EXPECT_EQ(map.LoadConfigFromBytes(mpQVZT, "o|U|d", kInstance1), TLoadResult::lrInvalidMap);
}

TEST(RegisterMapLoad, InvalidLineEmptiesTheMapKeepsPartialCountsAndStopsReading) {
  TRegisterMap map;
  const char* file = "a|F|p\nb|I|q\nbroken\nc|u|r\n";
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, file, kInstance1), TLoadResult::lrInvalidMap);
  EXPECT_TRUE(map.Regs().empty());
  EXPECT_EQ(map.MBRegCount(), 1 + 4 + 2);
  EXPECT_EQ(map.MBFPRegSingleDelta(), 2);

  // An empty line in the middle ends the map the same way.
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "a|f|p\n\nc|u|r\n", kInstance1),
            TLoadResult::lrInvalidMap);
  EXPECT_EQ(map.MBRegCount(), 3);
}

// The message box and the poller say on which line the map went wrong, and how.
TEST(RegisterMapLoad, AnInvalidMapNamesItsLineAndWhatIsWrong) {
  std::string tooMany;
  for (int i = 0; i < 250; ++i) tooMany += "a|F|p\n";  // 1 + 250 x 4 registers
  const std::tuple<std::string, const char*, const char*> cases[] = {
      {"a|F|p\nb|X|q\n", "riga 2: tipo 'X' sconosciuto", "line 2: unknown type 'X'"},
      {"a|F|p\r\n\r\nb|F|q", "riga 2: 0 campi invece dei 3 OBIS|tipo|descrizione",
       "line 2: 0 fields instead of the 3 OBIS|type|description"},
      {tooMany, "riga 250: le voci superano i 1000 registri di un contatore",
       "line 250: the entries span more than the 1000 registers of a meter instance"}};
  for (const auto& [file, italian, english] : cases) {
    TRegisterMap map;
    ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, file, kInstance1), TLoadResult::lrInvalidMap);
    EXPECT_EQ(MapFaultText(map.Fault(), true), italian);
    EXPECT_EQ(MapFaultText(map.Fault(), false), english);
  }
}

TEST(RegisterMapLoad, MissingFileRaisesAndLeavesAnEmptyMap) {
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "a|F|p", kInstance1), TLoadResult::lrOk);
  EXPECT_THROW(map.LoadConfig(mpNormal, "does-not-exist.cfg", kInstance1), std::system_error);
  EXPECT_TRUE(map.Regs().empty());
  EXPECT_EQ(map.MBRegCount(), 0);
  EXPECT_EQ(map.MBFPRegSingleDelta(), 0);
}

TEST(RegisterMapLoad, ReadsAUtf16FileFromDiskIntoUtf8Texts) {
  const std::string name = "register_map_test_utf16.cfg";
  {
    // "1-0:1.8.0|F|Qualità" in UTF-16 LE with its mark, CR LF.
    std::string bytes = "\xFF\xFE";
    for (char16_t c : std::u16string(u"1-0:1.8.0|F|Qualit\u00E0\r\n")) {
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>(c >> 8);
    }
    std::ofstream(name, std::ios::binary) << bytes;
  }
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfig(mpNormal, name, kInstance1), TLoadResult::lrOk);
  std::remove(name.c_str());
  ASSERT_EQ(map.Regs().size(), 2u);
  EXPECT_EQ(map.Regs()[1].obis, "1-0:1.8.0");
  EXPECT_EQ(map.Regs()[1].desc, "Qualit\xC3\xA0");
}

TEST(RegisterGrid, StructSizesTheTextsAndDataFillsEveryColumn) {
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "1-0:1.8.0|F|Energia\n", kInstance1),
            TLoadResult::lrOk);
  map.UpdateGridStruct();
  EXPECT_EQ(map.RegData(), (V{"", ""}));
  EXPECT_EQ(map.RegRawData(), (V{"", ""}));
  map.UpdateGridData(false, false);
  ASSERT_EQ(map.Grid().RowCount(), 2u);
  EXPECT_EQ(map.Grid().Row(1),
            (TGridRow{"1", "FLOAT64", "1-0:1.8.0", "<N/A>", "<N/A>", "Energia"}));

  // With data available the value cells show FRegData as it is, even empty.
  map.UpdateGridData(true, false);
  EXPECT_EQ(map.Grid().Cell(1, gcValue), "");
  EXPECT_EQ(map.Grid().Cell(0, gcType), "INT16");

  // Switching the float32 option: the type name and the addresses follow.
  map.CalcAddress(kInstance1Float32);
  map.UpdateGridData(true, true);
  EXPECT_EQ(map.Grid().Row(1)[gcAddress], "201");
  EXPECT_EQ(map.Grid().Row(1)[gcType], "FLOAT32");
}

TEST(RegisterGrid, InvalidMapLeavesOnlyTheHeaderRow) {
  TRegisterMap map;
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "a|F|p\nb|F|q\n", kInstance1), TLoadResult::lrOk);
  map.UpdateGridStruct();
  map.UpdateGridData(true, false);
  ASSERT_EQ(map.LoadConfigFromBytes(mpNormal, "a|F|p\nbad\n", kInstance1),
            TLoadResult::lrInvalidMap);
  // Even before the grid is rebuilt, filling it never reads past the map.
  map.UpdateGridData(true, false);
  EXPECT_EQ(map.Grid().RowCount(), 0u);
  map.UpdateGridStruct();
  map.UpdateGridData(false, false);
  EXPECT_EQ(map.Grid().RowCount(), 0u);
  EXPECT_TRUE(map.RegData().empty());
}

}  // namespace
