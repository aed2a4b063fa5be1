// Rating values against their limits over several cycles.
#include "LimitsTest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// The firmware word, a voltage, a date and the energy register with the same
// OBIS code as the date (only numeric entries are held to limits).
const std::vector<TConfigRecord> REGS = {
    {"", eWord, "Versione Firmware VIVAR517", "0"},
    {"1-0:32.7.0", eDouble, "Tensione L1 (V)", "1"},
    {"1-0:1.6.0", eDate3, "Data", "5"},
    {"1-0:1.6.0", eDouble, "Massima domanda (kW)", "8"},
};

TLimit Limit(const char* Obis, std::optional<double> Min, std::optional<double> Max) {
  TLimit limit;
  limit.Obis = Obis;
  limit.Min = Min;
  limit.Max = Max;
  return limit;
}

// One cycle's readings from their texts: the number beside every numeric text.
std::vector<TEntryReading> Cycle(const std::vector<std::string>& Texts) {
  std::vector<TEntryReading> readings;
  for (const std::string& text : Texts) {
    TEntryReading reading{text, "", {}};
    if (text == "NAN")
      reading.Number = std::nan("");
    else if (text != NOT_AVAIL && text.find('/') == std::string::npos)
      reading.Number = std::stod(text);
    readings.push_back(reading);
  }
  return readings;
}

struct TRatingRow {
  const char* name;
  std::vector<const char*> texts;  // the voltage's value text in each cycle
  ELimitVerdict verdict;
  std::optional<double> lowest, highest;
};

class Rating : public ::testing::TestWithParam<TRatingRow> {};

TEST_P(Rating, KeepsTheVerdictAndTheValuesSeen) {
  TLimitsTest test({Limit("1-0:32.7.0", 207, 253)}, REGS);
  for (const char* text : GetParam().texts) test.AddCycle(Cycle({"103", text, "08/12/2026", "5"}));
  ASSERT_EQ(test.Outcomes().size(), 1u);
  const TLimitOutcome& o = test.Outcomes()[0];
  EXPECT_EQ(o.Verdict, GetParam().verdict);
  EXPECT_EQ(o.Lowest, GetParam().lowest);
  EXPECT_EQ(o.Highest, GetParam().highest);
  EXPECT_EQ(o.LastText, GetParam().texts.back());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Rating,
    ::testing::Values(
        TRatingRow{"WithinEveryCycle", {"230.5", "207", "253"}, ELimitVerdict::lvPass, 207, 253.0},
        TRatingRow{
            "OutsideInOneCycle", {"230", "253.01", "231"}, ELimitVerdict::lvFail, 230, 253.01},
        TRatingRow{"OutsideOutweighsNotRead", {"<N/A>", "12"}, ELimitVerdict::lvFail, 12, 12},
        TRatingRow{"NotANumberIsOutside", {"230", "NAN"}, ELimitVerdict::lvFail, 230, 230},
        TRatingRow{"NotReadInOneCycle", {"230", "<N/A>"}, ELimitVerdict::lvNotRead, 230, 230},
        TRatingRow{"NeverRead", {"<N/A>"}, ELimitVerdict::lvNotRead, std::nullopt, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LimitsTest, PassesOnlyWhenEveryEntryPasses) {
  // 1-0:1.6.0 rates the demand, not the date; 9-9:9.9.9 is not in the map.
  TLimitsTest test({Limit("1-0:1.6.0", 0, 69), Limit("9-9:9.9.9", 0, std::nullopt)}, REGS);
  EXPECT_FALSE(test.Passed()) << "no cycle yet";
  test.AddCycle(Cycle({"103", "230", "08/12/2026", "8.04"}));
  ASSERT_EQ(test.Outcomes().size(), 2u);
  EXPECT_EQ(test.Outcomes()[0].Description, "Massima domanda (kW)");
  EXPECT_EQ(test.Outcomes()[0].Verdict, ELimitVerdict::lvPass);
  EXPECT_EQ(test.Outcomes()[1].Verdict, ELimitVerdict::lvNotRead);
  EXPECT_FALSE(test.Passed());
  EXPECT_EQ(test.Summary(), "FAIL: 0 of 2 entries outside their limits, 1 not read in 1 cycle");

  TLimitsTest good({Limit("1-0:1.6.0", 0, 69)}, REGS);
  good.AddCycle(Cycle({"103", "230", "08/12/2026", "8.04"}));
  good.AddCycle(Cycle({"103", "230", "08/12/2026", "8.05"}));
  EXPECT_TRUE(good.Passed());
  EXPECT_EQ(good.Summary(), "PASS: 1 of 1 entries within their limits in 2 cycles");

  // The number is rated, not the two-decimal text the grid shows for it.
  TLimitsTest precise({Limit("1-0:32.7.0", 207, 253)}, REGS);
  precise.AddCycle({{"103", "", std::int64_t{103}},
                    {"253", "", 253.004},
                    {"08/12/2026", "", {}},
                    {"5", "", 5.0}});
  EXPECT_EQ(precise.Outcomes()[0].Verdict, ELimitVerdict::lvFail);
  EXPECT_EQ(precise.Outcomes()[0].Highest, 253.004);
}

}  // namespace
