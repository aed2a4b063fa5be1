// The request rules of the simulator's register reads.

#include "MeterRegisters.h"
#include "RegisterMap.h"
#include "RegisterReadQuery.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

class RegisterQuery : public ::testing::Test {
 protected:
  RegisterQuery()
      : meter(LoadNormalMap(), TSimulatedMeterSettings{}),
        clock(*ParseSimTime("2026-12-08T12:00:00")),
        registers(meter, clock) {}

  static std::vector<TConfigRecord> LoadNormalMap() {
    TRegisterMap map;
    map.LoadConfigFromBytes(mpNormal, "1-0:32.7.0|F|V\n1-0:1.8.0|F|E\n", TMapSettings{});
    return map.Regs();  // 9 registers, 5 in the 32-bit-float layout
  }
  static Bytes Read(std::uint8_t function, unsigned start, unsigned count) {
    return {function, static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start),
            static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)};
  }
  Bytes Answer(const Bytes& pdu) { return AnswerRegisterQuery(registers, pdu); }

  TSimulatedMeter meter;
  TSimClock clock;
  TMeterRegisters registers;
};

}  // namespace

TEST_F(RegisterQuery, HoldingAndInputReadsServeTheSameRegisters) {
  const Bytes holding = Answer(Read(3, 1000, 9));
  ASSERT_EQ(holding.size(), 2u + 18u);
  EXPECT_EQ(holding[0], 3);
  EXPECT_EQ(holding[1], 18);
  EXPECT_EQ((holding[2] << 8) | holding[3], 103);  // firmware word
  Bytes input = Answer(Read(4, 1000, 9));
  ASSERT_EQ(input.size(), holding.size());
  EXPECT_EQ(input[0], 4);
  EXPECT_TRUE(std::equal(holding.begin() + 1, holding.end(), input.begin() + 1));
  EXPECT_EQ(Answer(Read(3, 4200, 5)).size(), 2u + 10u);
}

TEST_F(RegisterQuery, RefusesWhatTheMeterDoesNotHave) {
  const Bytes illegalAddress{0x83, 2};
  EXPECT_EQ(Answer(Read(3, 9, 1)), illegalAddress);      // just past instance 1
  EXPECT_EQ(Answer(Read(3, 5, 5)), illegalAddress);      // straddles the end
  EXPECT_EQ(Answer(Read(3, 205, 1)), illegalAddress);    // past the 32-bit-float layout
  EXPECT_EQ(Answer(Read(3, 5000, 1)), illegalAddress);   // no instance 6
  EXPECT_EQ(Answer(Read(3, 65535, 2)), illegalAddress);  // beyond the register space
  EXPECT_EQ(Answer(Read(4, 100, 1)), (Bytes{0x84, 2}));
}

TEST_F(RegisterQuery, BadCountsAndTruncatedQueriesAreIllegalValues) {
  EXPECT_EQ(Answer(Read(3, 0, 0)), (Bytes{0x83, 3}));
  EXPECT_EQ(Answer(Read(3, 0, 126)), (Bytes{0x83, 3}));
  EXPECT_EQ(Answer(Bytes{3, 0, 0, 0}), (Bytes{0x83, 3}));
  EXPECT_EQ(Answer(Bytes{3}), (Bytes{0x83, 3}));
}

TEST_F(RegisterQuery, OtherFunctionsAreIllegal) {
  for (int f : {1, 2, 5, 6, 7, 15, 16, 17, 23, 43, 0x7F}) {
    const auto function = static_cast<std::uint8_t>(f);
    const Bytes reply = Answer(Bytes{function, 0, 0, 0, 1});
    EXPECT_EQ(reply, (Bytes{static_cast<std::uint8_t>(function | 0x80), 1}));
  }
  EXPECT_TRUE(Answer(Bytes{}).empty());
}
