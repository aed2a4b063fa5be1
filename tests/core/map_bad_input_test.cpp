// Map files of any content: every input gives a map or the invalid-map
// outcome, never a crash, a hang or a read past the input. Run this under
// -DKQ_SANITIZE=ON to have over-reads reported.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "RegisterMap.h"
#include "ValueDecoding.h"

namespace {

// Loads the bytes in every mode and layout, then runs the grid and a decoding
// pass over exactly the registers the map requests and over a short reply.
void Exercise(const std::string& bytes) {
  for (EMapType type : {mpNormal, mpQVZT}) {
    for (bool float32 : {false, true}) {
      TRegisterMap map;
      const TMapSettings settings{float32, 4};
      const TLoadResult result = map.LoadConfigFromBytes(type, bytes, settings);
      if (result == TLoadResult::lrInvalidMap) {
        ASSERT_TRUE(map.Regs().empty());
      }
      for (const auto& entry : map.Regs()) {
        ASSERT_FALSE(MapCode(entry.regType).empty());
        ASSERT_EQ(entry.obis.find('|'), std::string::npos);
      }
      map.UpdateGridStruct();
      map.UpdateGridData(false, float32);
      ASSERT_EQ(map.Grid().RowCount(), map.Regs().size());

      map.SetBaseAddress(BaseAddressFor(settings));
      const std::vector<std::uint16_t> full(map.RequestSize(settings), 0xA5F0);
      DecodeRegisters(map, full, {BS_2_3_0_1, float32, EDecodePath::dpSerial});
      const std::vector<std::uint16_t> shortReply(full.size() / 2, 0x1234);
      DecodeRegisters(map, shortReply, {BS_3_2_1_0, float32, EDecodePath::dpTCP});
      map.UpdateGridData(true, float32);
    }
  }
}

TEST(MapBadInput, RandomBytes) {
  std::mt19937 rng(20261208);
  for (int n = 0; n < 300; ++n) {
    std::string bytes(rng() % 400, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    Exercise(bytes);
  }
}

TEST(MapBadInput, RandomLinesFromAMapAlphabet) {
  // Mostly near-valid lines, so that many inputs load and reach decoding.
  static constexpr char alphabet[] = "|||iIfFDTtdux\r\n\n 0:.-\xE0\xC3\xFF\xFE";
  std::mt19937 rng(42);
  for (int n = 0; n < 2000; ++n) {
    std::string bytes;
    if (n % 3 == 0) bytes = (n % 2 == 0) ? "\xFF\xFE" : "\xEF\xBB\xBF";
    const std::size_t len = rng() % 120;
    for (std::size_t i = 0; i < len; ++i) bytes += alphabet[rng() % (sizeof alphabet - 1)];
    Exercise(bytes);
  }
}

TEST(MapBadInput, ValidMapOfEveryTypeInEveryEncoding) {
  std::string text;
  for (const char* code : {"i", "I", "f", "F", "D", "T", "t", "d", "u"}) {
    text += std::string("1-0:1.8.0|") + code + "|Qualit\xC3\xA0\r\n";
  }
  Exercise(text);
  Exercise("\xEF\xBB\xBF" + text);
  std::string utf16 = "\xFE\xFF";
  for (char c : text) {
    utf16 += '\0';
    utf16 += c;  // ASCII only except the UTF-8 pair, which becomes two odd characters
  }
  Exercise(utf16);
}

TEST(MapBadInput, StructuralExtremes) {
  Exercise("");
  Exercise("\r");
  Exercise("\n");
  Exercise("\r\r\n\n");
  Exercise("|");
  Exercise(std::string(1, '\0'));
  Exercise("\xFF\xFE");
  Exercise("\xFF\xFE\x00");                               // BOM plus an odd byte
  Exercise(std::string("\xFE\xFF\xD8\x00\xD8\x00", 6));   // high surrogates only
  Exercise(std::string("\xFF\xFE\x00\xDC|\x00", 6));      // lone low surrogate
  Exercise("\xEF\xBB\xBF\xF4\x90\x80\x80|i|\xC0");        // invalid UTF-8 after the mark
  Exercise("a|i|b\rc|F|d\r");                             // CR-only file
  Exercise(std::string(10 * 1024 * 1024, 'x'));           // one 10 MB line
  Exercise("o|u|" + std::string(10 * 1024 * 1024, 'y'));  // a valid 10 MB description
  Exercise(std::string(1 << 20, '|'));
}

// A map larger than a meter instance (1000 registers) cannot be read by the
// device at all: it is refused at load, before its entries and rows take memory.
TEST(MapBadInput, HugeMapsAreRefusedAtLoad) {
  struct TRow {
    EMapType Type;
    int Words;  // one-register entries; the normal map adds the firmware word
    TLoadResult Result;
  } const rows[] = {{mpNormal, 999, TLoadResult::lrOk},
                    {mpNormal, 1000, TLoadResult::lrInvalidMap},
                    {mpQVZT, 1000, TLoadResult::lrOk},
                    {mpQVZT, 1001, TLoadResult::lrInvalidMap},
                    {mpQVZT, 70000, TLoadResult::lrInvalidMap}};
  for (const TRow& row : rows) {
    std::string text;
    for (int i = 0; i < row.Words; ++i) text += "o|i|d\n";
    TRegisterMap map;
    EXPECT_EQ(map.LoadConfigFromBytes(row.Type, text, {false, 4}), row.Result) << row.Words;
    EXPECT_EQ(map.Regs().empty(), row.Result != TLoadResult::lrOk) << row.Words;
  }
  // Doubles span four registers in the 64-bit layout, whichever layout is polled.
  TRegisterMap map;
  std::string doubles;
  for (int i = 0; i < 251; ++i) doubles += "o|F|d\n";
  EXPECT_EQ(map.LoadConfigFromBytes(mpQVZT, doubles, {true, 0}), TLoadResult::lrInvalidMap);
}

}  // namespace
