// The simulated meter's register layout and values, read back through the
// tool's own map loading and decoding pass.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "MeterQuantities.h"
#include "MeterRegisters.h"
#include "RegisterMap.h"
#include "SimClock.h"
#include "SimulatedMeter.h"
#include "ValueDecoding.h"

namespace {

// A map using every data type once, with codes the simulator knows.
constexpr char MAP_TEXT[] =
    "1-0:32.7.0|F|Tensione L1\n"
    "1-0:31.7.0|f|Corrente L1\n"
    "1-0:1.8.0|F|Energia\n"
    "0-0:96.1.0|I|Matricola\n"
    "0-0:96.14.0|i|Tariffa\n"
    "0-0:1.0.0|D|Data\n"
    "0-0:1.0.0|T|Ora\n"
    "1-0:1.6.0|d|Data max\n"
    "1-0:1.6.0|t|Ora max\n"
    "0-0:99.98.0|u|Evento\n";

std::vector<TConfigRecord> LoadMap(EMapType type, const std::string& text = MAP_TEXT) {
  TRegisterMap map;
  EXPECT_EQ(map.LoadConfigFromBytes(type, text, TMapSettings{}), TLoadResult::lrOk);
  return map.Regs();
}

TSimTime At(const char* text) {
  auto t = ParseSimTime(text);
  EXPECT_TRUE(t.has_value()) << text;
  return TSimClock(*t).Now();
}

// Reads one instance's registers from a rendered bank the way a poll cycle
// does and decodes them with the tool's pass.
TRegisterMap PollBank(const TRegisterBank& bank, EMapType type, int instance, bool float32,
                      EByteSequence seq) {
  TRegisterMap map;
  const TMapSettings settings{float32, instance - 1};
  EXPECT_EQ(map.LoadConfigFromBytes(type, MAP_TEXT, settings), TLoadResult::lrOk);
  map.UpdateGridStruct();
  map.SetBaseAddress(BaseAddressFor(settings));
  std::vector<std::uint16_t> words;
  for (unsigned i = 0; i < map.RequestSize(settings); ++i) {
    const auto a = static_cast<std::uint16_t>(map.BaseAddress() + i);
    EXPECT_TRUE(bank.CanRead(a)) << a;
    words.push_back(bank.Value(a));
  }
  DecodeRegisters(map, words, TDecodeOptions{seq, float32, EDecodePath::dpTCP});
  return map;
}

}  // namespace

TEST(SimClock, ParsesFixedMomentsAndRejectsImpossibleOnes) {
  const TSimTime t = At("2026-12-08T21:45:07");
  EXPECT_EQ(t.year, 2026);
  EXPECT_EQ(t.day, 8);
  EXPECT_EQ(t.second, 7);
  EXPECT_EQ(t.elapsed, 0);
  EXPECT_TRUE(ParseSimTime("2024-02-29 00:00:00"));
  for (const char* bad : {"2025-02-29T00:00:00", "2026-13-01T00:00:00", "2026-12-08T24:00:00",
                          "2026-12-08", "2026-12-08T21:45:07x", "", "tomorrow"}) {
    EXPECT_FALSE(ParseSimTime(bad)) << bad;
  }
  // A frozen clock always says the same.
  const TSimClock frozen(*ParseSimTime("2026-12-08T21:45:07"));
  EXPECT_EQ(frozen.Now().seconds, frozen.Now().seconds);
}

TEST(MeterQuantities, ReadingsArePlausibleAndEnergiesGrow) {
  TSimTime t = At("2026-12-08T12:00:00");
  for (int instance = 1; instance <= 5; ++instance) {
    for (int s = 0; s < 600; s += 7) {
      t.seconds += 7;
      for (const char* v : {"1-0:32.7.0", "1-0:52.7.0", "1-0:72.7.0"}) {
        const double volts = SimulatedQuantity(v, instance, t);
        EXPECT_GT(volts, 225.0);
        EXPECT_LT(volts, 235.0);
      }
      const double amps = SimulatedQuantity("1-0:31.7.0", instance, t);
      EXPECT_GT(amps, 0.0);
      const double kw = SimulatedQuantity("1-0:1.7.0", instance, t);
      EXPECT_GT(kw, 1.0);
      EXPECT_LT(kw, 20.0);
      EXPECT_NEAR(SimulatedQuantity("1-0:14.7.0", instance, t), 50.0, 0.1);
    }
  }
  TSimTime later = t;
  later.elapsed = t.elapsed + 3600;
  EXPECT_GT(SimulatedQuantity("1-0:1.8.0", 1, later), SimulatedQuantity("1-0:1.8.0", 1, t) + 1.0);
  // Instances differ, so a reader of the wrong instance notices.
  EXPECT_NE(SimulatedQuantity("1-0:1.8.0", 1, t), SimulatedQuantity("1-0:1.8.0", 2, t));
}

TEST(SimulatedMeter, LaysOutEveryInstanceInBothLayouts) {
  const TSimulatedMeter meter(LoadMap(mpNormal), TSimulatedMeterSettings{});
  const TSimTime t = At("2026-12-08T21:45:07");
  const int span64 = meter.SpanOf(false);
  const int span32 = meter.SpanOf(true);
  EXPECT_EQ(span64 - span32, 2 * 2);  // two doubles save two registers each
  TRegisterBank bank;
  meter.Render(t, bank);
  for (int instance = 1; instance <= 5; ++instance) {
    const int base = 1000 * (instance - 1);
    for (int offset : {0, 200}) {
      const int span = offset == 0 ? span64 : span32;
      if (base + offset > 0) {
        EXPECT_FALSE(bank.CanRead(static_cast<std::uint16_t>(base + offset - 1)));
      }
      EXPECT_TRUE(bank.CanRead(static_cast<std::uint16_t>(base + offset)));
      EXPECT_TRUE(bank.CanRead(static_cast<std::uint16_t>(base + offset + span - 1)));
      EXPECT_FALSE(bank.CanRead(static_cast<std::uint16_t>(base + offset + span)));
    }
    const auto entries = meter.ServedEntries(instance, false, t);
    EXPECT_EQ(entries.front().address, base);
    EXPECT_EQ(entries.front().value, "103");  // firmware version word first
    EXPECT_EQ(entries.at(1).address, base + 1);
  }
}

TEST(SimulatedMeter, ServedTextsAreWhatThePollCycleDecodes) {
  const TSimTime t = At("2026-12-08T07:05:09");
  for (EByteSequence seq : {BS_1_0_3_2, BS_0_1_2_3, BS_2_3_0_1, BS_3_2_1_0}) {
    TSimulatedMeterSettings settings;
    settings.byteSequence = seq;
    const TSimulatedMeter meter(LoadMap(mpNormal), settings);
    TRegisterBank bank;
    meter.Render(t, bank);
    for (int instance = 1; instance <= 5; ++instance) {
      for (bool float32 : {false, true}) {
        SCOPED_TRACE(std::to_string(seq) + " instance " + std::to_string(instance) +
                     (float32 ? " float32" : ""));
        const TRegisterMap decoded = PollBank(bank, mpNormal, instance, float32, seq);
        const auto served = meter.ServedEntries(instance, float32, t);
        ASSERT_EQ(decoded.Regs().size(), served.size());
        for (std::size_t i = 0; i < served.size(); ++i) {
          EXPECT_EQ(decoded.Regs()[i].regAddress, std::to_string(served[i].address));
          EXPECT_EQ(decoded.RegData()[i], served[i].value) << served[i].obis;
          EXPECT_EQ(decoded.RegRawData()[i], ShownRawText(served[i]));
        }
        EXPECT_EQ(decoded.RegData()[6], "08/12/2026");
        EXPECT_EQ(decoded.RegData()[7], "07:05:09");
      }
    }
  }
}

TEST(SimulatedMeter, SwitchedOffInstancesReadAllOnes) {
  TSimulatedMeterSettings settings;
  settings.instanceOn = {true, false, true, true, false};
  const TSimulatedMeter meter(LoadMap(mpNormal), settings);
  TRegisterBank bank;
  const TSimTime t = At("2026-12-08T12:00:00");
  meter.Render(t, bank);
  for (int base : {1000, 1200, 4000, 4200}) {
    for (int a = base; a < base + meter.SpanOf(base % 1000 == 200); ++a) {
      ASSERT_TRUE(bank.CanRead(static_cast<std::uint16_t>(a)));
      ASSERT_EQ(bank.Value(static_cast<std::uint16_t>(a)), 0xFFFF) << a;
    }
  }
  EXPECT_NE(bank.Value(0), 0xFFFF);
  EXPECT_NE(bank.Value(2000), 0xFFFF);
  // The serial cycle shows "<N/A>" for such an instance.
  TRegisterMap map;
  const TMapSettings instance2{false, 1};
  map.LoadConfigFromBytes(mpNormal, MAP_TEXT, instance2);
  std::vector<std::uint16_t> words(map.RequestSize(instance2), 0xFFFF);
  DecodeRegisters(map, words, TDecodeOptions{BS_1_0_3_2, false, EDecodePath::dpSerial});
  EXPECT_EQ(map.RegData().at(1), NOT_AVAIL);
}

TEST(SimulatedMeter, QvztMapHasOneLayoutAndNoFirmwareWord) {
  TSimulatedMeterSettings settings;
  settings.mapType = mpQVZT;
  settings.byteSequence = BS_0_1_2_3;
  const TSimulatedMeter meter(LoadMap(mpQVZT), settings);
  TRegisterBank bank;
  const TSimTime t = At("2026-12-08T12:00:00");
  meter.Render(t, bank);
  EXPECT_FALSE(bank.CanRead(200));
  EXPECT_EQ(meter.ServedEntries(3, true, t).front().address, 2000);
  EXPECT_EQ(meter.ServedEntries(3, false, t).front().obis, "1-0:32.7.0");
  const TRegisterMap decoded = PollBank(bank, mpQVZT, 3, false, BS_0_1_2_3);
  const auto served = meter.ServedEntries(3, false, t);
  for (std::size_t i = 0; i < served.size(); ++i) {
    EXPECT_EQ(decoded.RegData()[i], served[i].value);
  }
}

TEST(SimulatedMeter, RefusesMapsThatDoNotFitTheDevice) {
  EXPECT_THROW(TSimulatedMeter({}, TSimulatedMeterSettings{}), std::invalid_argument);
  // The 64-bit layout may fill the 200 registers before the 32-bit-float
  // layout, but not run into it.
  std::string big;
  for (int i = 0; i < 49; ++i) big += "1-0:1.8.0|F|e\n";
  big += "0-0:96.14.0|i|x\n0-0:96.14.0|i|x\n0-0:96.14.0|i|x\n";  // 200 in all
  EXPECT_NO_THROW(TSimulatedMeter(LoadMap(mpNormal, big), TSimulatedMeterSettings{}));
  big += "1-0:1.8.0|F|e\n";
  EXPECT_THROW(TSimulatedMeter(LoadMap(mpNormal, big), TSimulatedMeterSettings{}),
               std::invalid_argument);
}

TEST(MeterRegisters, RendersOncePerSecondFromTheClock) {
  const TSimulatedMeter meter(LoadMap(mpNormal), TSimulatedMeterSettings{});
  const TSimClock clock(*ParseSimTime("2026-12-08T12:00:00"));
  TMeterRegisters registers(meter, clock);
  EXPECT_FALSE(registers.CanRead(0));  // nothing before the first refresh
  registers.Refresh();
  EXPECT_TRUE(registers.CanRead(0));
  EXPECT_EQ(registers.Value(0), 103);
}
