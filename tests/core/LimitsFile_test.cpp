// The limits file: what it accepts, and every bad line refused by its number.
#include "LimitsFile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LimitsFile, ReadsTheMapFileConventionsOneSidedLimitsAndNotes) {
  // UTF-8 byte-order mark, CR LF, a note with a non-ASCII character, an empty
  // max, a final "|" that drops its empty field.
  const TLimitsFile file = ParseLimits(
      "\xEF\xBB\xBF"
      "1-0:32.7.0|207|253|230 V \xC2\xB1"
      "10 %\r\n1-0:1.8.0|0||\r\n1-0:3.7.0|-6.9e1|+69|\r\n",
      "limits.cfg");
  ASSERT_TRUE(file.Ok()) << file.Error;
  ASSERT_EQ(file.Limits.size(), 3u);
  EXPECT_EQ(file.Limits[0].Note,
            "230 V \xC2\xB1"
            "10 %");
  EXPECT_EQ(file.Limits[0].Max, 253.0);
  EXPECT_EQ(file.Limits[1].Min, 0.0);
  EXPECT_FALSE(file.Limits[1].Max.has_value());
  EXPECT_EQ(file.Limits[2].Min, -69.0);
  EXPECT_EQ(file.Limits[2].Max, 69.0);
  EXPECT_EQ(file.Limits[2].Line, 3);
}

struct TBadFile {
  const char* name;
  std::string text;
  std::string error;  // the whole message
};

// The bytes of Text (ASCII) in UTF-16, little- or big-endian, without a byte-order mark.
std::string Utf16(const std::string& Text, bool BigEndian) {
  std::string bytes;
  for (const char c : Text) bytes += BigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  return bytes;
}

class LimitsFileRefuses : public ::testing::TestWithParam<TBadFile> {};

TEST_P(LimitsFileRefuses, NamingTheLine) {
  const TLimitsFile file = ParseLimits(GetParam().text, "limits.cfg");
  EXPECT_EQ(file.Error, GetParam().error);
  EXPECT_TRUE(file.Limits.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LimitsFileRefuses,
    ::testing::Values(
        TBadFile{"Empty", "", "limits.cfg: the file holds no limits"},
        TBadFile{"BlankLine", "a|1|2\n\nb|1|2\n", "limits.cfg line 2: the line is empty"},
        TBadFile{"TwoFields", "a|1\n",
                 "limits.cfg line 1: expected OBIS|min|max or OBIS|min|max|note, found 2 fields"},
        TBadFile{"FiveFields", "a|1|2|n|x\n",
                 "limits.cfg line 1: expected OBIS|min|max or OBIS|min|max|note, found 5 fields"},
        TBadFile{"NoObis", "|1|2\n", "limits.cfg line 1: the OBIS code is empty"},
        TBadFile{"DecimalComma", "a|1|2\nb|0,5|2\n",
                 "limits.cfg line 2: '0,5' is not a number (min); write decimals with '.'"},
        TBadFile{"Trailing", "a|1|2V\n", "limits.cfg line 1: '2V' is not a number (max)"},
        TBadFile{"PlusMinus", "a|+-1|2\n", "limits.cfg line 1: '+-1' is not a number (min)"},
        TBadFile{"NotFinite", "a|nan|2\n", "limits.cfg line 1: 'nan' is not a number (min)"},
        TBadFile{"OutOfRange", "a|1e999|5\n", "limits.cfg line 1: '1e999' is not a number (min)"},
        TBadFile{"NoLimit", "a|||note\n", "limits.cfg line 1: neither min nor max is given"},
        TBadFile{"Reversed", "a|5|1\n", "limits.cfg line 1: min 5 is above max 1"},
        TBadFile{"Twice", "a|1|2\nb|1|2\na|3|4\n",
                 "limits.cfg line 3: OBIS a already has limits on line 1"},
        // A text from the file is quoted in part, whatever its size.
        TBadFile{"HugeNumber", "a|" + std::string(1 << 20, '1') + "|5\n",
                 "limits.cfg line 1: '" + std::string(40, '1') +
                     "...' (1048576 bytes) is not a number (min)"},
        TBadFile{"HugeObisTwice",
                 std::string(100, 'o') + "|1|2\n" + std::string(100, 'o') + "|1|2\n",
                 "limits.cfg line 2: OBIS " + std::string(40, 'o') +
                     "... (100 bytes) already has limits on line 1"},
        TBadFile{"Utf16LittleEndianWithoutMark", Utf16("a|207|253\r\n", false),
                 "limits.cfg: the file looks like UTF-16 without a byte-order mark; save it as "
                 "UTF-8, or as UTF-16 with its byte-order mark"},
        TBadFile{"Utf16BigEndianWithoutMark", Utf16("a|207|253\r\n", true),
                 "limits.cfg: the file looks like UTF-16 without a byte-order mark; save it as "
                 "UTF-8, or as UTF-16 with its byte-order mark"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LimitsFile, AMissingFileSaysSo) {
  const TLimitsFile file = LoadLimitsFile("/nonexistent/limits.cfg");
  EXPECT_NE(file.Error.find("cannot read the limits file"), std::string::npos) << file.Error;
}

}  // namespace
