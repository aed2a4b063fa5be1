// Finding the byte order and layout of the simulated meter from plausibility.
#include <gtest/gtest.h>

#include <algorithm>

#include "ByteOrderDetection.h"
#include "LimitsTest.h"
#include "RegisterMap.h"
#include "SimulatedMeter.h"

namespace {

// Reads from a rendered register bank, as a meter on a line would answer.
class TBankSource : public TRegisterSource {
 public:
  explicit TBankSource(const TRegisterBank& Bank) : FBank(Bank) {}
  TRegisterRead Read(std::uint16_t Start, std::uint32_t Count) override {
    TRegisterRead read;
    for (std::uint32_t i = 0; i < Count; ++i)
      read.Words.push_back(FBank.Value(static_cast<std::uint16_t>(Start + i)));
    read.Ok = true;
    return read;
  }
  std::string Describe() const override { return "bank"; }

 private:
  const TRegisterBank& FBank;
};

// A gateway that maps the meter into its input registers and refuses holding register reads.
class TInputTableSource : public TBankSource {
 public:
  using TBankSource::TBankSource;
  TRegisterRead Read(std::uint16_t, std::uint32_t) override { return {false, {}, "exception 2"}; }
  TRegisterRead ReadTable(EReadFunction Table, std::uint16_t Start, std::uint32_t Count) override {
    if (Table == EReadFunction::rfInputRegisters) return TBankSource::Read(Start, Count);
    return Read(Start, Count);
  }
};

TRegisterMap ShippedMap() {
  TRegisterMap map;
  EXPECT_EQ(map.LoadConfig(mpNormal, KQ_MAP_FILE, TMapSettings{}), TLoadResult::lrOk);
  return map;
}

// The simulated meter's registers, instances 2 and 3 switched on.
TRegisterBank SimulatorBank(const std::vector<TConfigRecord>& Regs, EByteSequence Sequence) {
  TSimulatedMeterSettings settings;
  settings.byteSequence = Sequence;
  settings.instanceOn = {false, true, true, false, false};
  const TSimulatedMeter meter(Regs, settings);
  TRegisterBank bank;
  TSimTime t;
  t.year = 2026, t.month = 12, t.day = 9, t.hour = 10, t.minute = 20, t.second = 30;
  t.seconds = 1796811630;
  meter.Render(t, bank);
  return bank;
}

TDetectionResult DetectOnSimulator(EByteSequence Sequence, int MeterIndex) {
  const std::vector<TConfigRecord> regs = ShippedMap().Regs();
  const TRegisterBank bank = SimulatorBank(regs, Sequence);
  TBankSource source(bank);
  return DetectByteOrder(regs, MeterIndex, source);
}

class Detection : public ::testing::TestWithParam<EByteSequence> {};

TEST_P(Detection, NamesTheSimulatorsByteOrderWithEveryCheckPassed) {
  const TDetectionResult result = DetectOnSimulator(GetParam(), 1);
  ASSERT_TRUE(result.Found());
  EXPECT_FALSE(result.Ambiguous) << VerdictText(result);
  const TDetectionCandidate& best = result.Winner();
  EXPECT_EQ(best.Sequence, GetParam());
  EXPECT_FALSE(best.Float32) << "ties between layouts go to the 64-bit one";
  EXPECT_EQ(best.Score, best.Total);
  EXPECT_EQ(best.Total, 16);
  EXPECT_EQ(result.Ranking.size(), 8u);
  EXPECT_LT(result.Ranking[2].Score, best.Score) << "only the two layouts of one order read fully";
  EXPECT_EQ(VerdictText(result),
            "best: " + CandidateText(best) + "; the 32-bit-float layout reads as well");
}

INSTANTIATE_TEST_SUITE_P(AllOrders, Detection,
                         ::testing::Values(BS_1_0_3_2, BS_0_1_2_3, BS_2_3_0_1, BS_3_2_1_0),
                         [](const auto& row) {
                           std::string name = "Order" + ByteSequenceWord(row.param);
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(Detection, ASwitchedOffInstanceIsNoReading) {
  const TDetectionResult result = DetectOnSimulator(BS_3_2_1_0, 0);
  EXPECT_FALSE(result.Found());
  ASSERT_EQ(result.LayoutErrors.size(), 2u);
  EXPECT_EQ(result.LayoutErrors[0], "64-bit layout: meter instance 1 not present");
  EXPECT_EQ(VerdictText(result), "no layout could be read");
}

TEST(Detection, SaysWhenTwoOrdersScoreAlike) {
  // Three single-register words read the same under 1-0-3-2 and 3-2-1-0.
  const std::vector<TConfigRecord> regs = {{"0-0:1.0.0", eDate3, "Data", "0"}};
  const std::vector<std::uint16_t> words = {2026, 12, 9};
  TRegisterBank bank;
  bank.Store(0, words);
  bank.Store(200, words);
  TBankSource source(bank);
  const TDetectionResult result = DetectByteOrder(regs, 0, source);
  EXPECT_TRUE(result.Ambiguous);
  EXPECT_EQ(VerdictText(result),
            "ambiguous: byte orders 1-0-3-2, 3-2-1-0 score 1/1 alike; compare their values with "
            "the meter's display");
}

// "Rileva" and "Test" read the table the poll reads ("Funzione", --function).
TEST(Detection, CommissioningReadsTheTableThePollReads) {
  TRegisterMap map = ShippedMap();
  const TRegisterBank bank = SimulatorBank(map.Regs(), BS_1_0_3_2);
  TInputTableSource source(bank);
  EXPECT_FALSE(DetectByteOrder(map.Regs(), 1, source).Found());
  EXPECT_TRUE(DetectByteOrder(map.Regs(), 1, source, EReadFunction::rfInputRegisters).Found());

  TLimitsTest test({}, map.Regs());
  TLimitsRunSettings run;
  run.MeterInstanceIndex = 1;
  run.Function = EReadFunction::rfInputRegisters;
  const TLimitsRunResult result = RunLimitsTest(map, source, run, test, {});
  EXPECT_EQ(result.CyclesFailed, 0) << result.LastError;
}

}  // namespace
