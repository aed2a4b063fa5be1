// What a write sends must read back as the value typed, under every byte
// sequence, and a value its type cannot hold must never become a frame.

#include "ValueEncoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "MeterClock.h"
#include "ValueDecoding.h"

namespace {

struct TRoundTrip {
  ERegisterType Type;
  bool Float32;
  const char* Typed;
  const char* Shown;  // the grid's text of the value read back
};

// Extremes of each type, a negative number, an Italian comma, dates and
// times with leading zeros.
const TRoundTrip ROUND_TRIPS[] = {
    {eWord, false, "0", "0"},
    {eWord, false, "65535", "65535"},
    {eInteger, false, "-2147483648", "-2147483648"},
    {eInteger, false, "2147483647", "2147483647"},
    {eInteger, false, "1e3", "1000"},
    {eFloat, false, "-1.25", "-1.25"},
    {eFloat, false, "2,5", "2.5"},
    {eDouble, false, "10836.39", "10836.39"},
    {eDouble, true, "227.5", "227.5"},
    {eDate, false, "31/01/2020", "31/01/2020"},
    {eDate, false, "2026-12-09", "09/12/2026"},
    {eTime, false, "09:30:05", "09:30:05"},
    {eDate3, false, "29/02/2024", "29/02/2024"},
    {eTime3, false, "23:59:07", "23:59:07"},
};

std::vector<std::uint8_t> Wire(const std::vector<std::uint16_t>& Words) {
  std::vector<std::uint8_t> wire;
  for (std::uint16_t word : Words) {
    wire.push_back(static_cast<std::uint8_t>(word >> 8));
    wire.push_back(static_cast<std::uint8_t>(word & 0xFF));
  }
  return wire;
}

}  // namespace

TEST(ValueEncoding, WhatIsWrittenDecodesAsTypedUnderEverySequence) {
  for (const TRoundTrip& row : ROUND_TRIPS) {
    for (int s = 0; s < BYTE_SEQUENCE_COUNT; ++s) {
      const auto sequence = static_cast<EByteSequence>(s);
      SCOPED_TRACE(std::string(row.Typed) + " as " + WriteTypeName(row.Type) + " under " +
                   BYTE_SEQUENCE_NAMES[s]);
      const TEncodedValue encoded = EncodeValueText(row.Type, row.Float32, row.Typed, sequence);
      ASSERT_TRUE(encoded.Ok());
      ASSERT_EQ(encoded.Words.size(),
                static_cast<std::size_t>(RegisterWidth(row.Type, row.Float32)));
      const auto wire = Wire(encoded.Words);
      EXPECT_EQ(ValueText(row.Type, DecodeNumber(row.Type, wire.data(), sequence, row.Float32)),
                row.Shown);
    }
  }
}

TEST(ValueEncoding, RefusesWhatTheTypeCannotHold) {
  const struct {
    ERegisterType Type;
    const char* Typed;
    EEncodeRefusal Refusal;
  } refusals[] = {
      {eWord, "65536", EEncodeRefusal::erOutOfRange},
      {eWord, "-1", EEncodeRefusal::erOutOfRange},
      {eInteger, "2147483648", EEncodeRefusal::erOutOfRange},
      {eWord, "12.5", EEncodeRefusal::erNotWhole},
      {eWord, "abc", EEncodeRefusal::erNotANumber},
      {eFloat, "", EEncodeRefusal::erNotANumber},
      {eInteger, "nan", EEncodeRefusal::erNaN},
      {eFloat, "1e39", EEncodeRefusal::erOutOfRange},
      {eDouble, "1e309", EEncodeRefusal::erOutOfRange},
      {eDate, "30/02/2026", EEncodeRefusal::erNotADate},
      {eTime, "24:00:00", EEncodeRefusal::erNotATime},
      {eTime3, "-1:00:00", EEncodeRefusal::erNotATime},
      {eTimeStamp12, "0", EEncodeRefusal::erNotWritable},
  };
  for (const auto& row : refusals) {
    const TEncodedValue encoded = EncodeValueText(row.Type, false, row.Typed, BS_1_0_3_2);
    EXPECT_EQ(encoded.Refusal, row.Refusal) << row.Typed << " as " << WriteTypeName(row.Type);
    EXPECT_TRUE(encoded.Words.empty()) << row.Typed;
  }
}

// The clock set to a moment reads back as that moment, whether date and time
// are packed integers or three registers each and wherever they lie.
TEST(MeterClock, ClockWritesReadBackAsTheMomentWritten) {
  const std::vector<TConfigRecord> packed{
      {"", eWord, "fw", ""}, {CLOCK_OBIS, eDate, "d", ""}, {CLOCK_OBIS, eTime, "t", ""}};
  const std::vector<TConfigRecord> apart{{CLOCK_OBIS, eTime3, "t", ""},
                                         {"1-0:1.8.0", eInteger, "e", ""},
                                         {CLOCK_OBIS, eDate3, "d", ""}};
  const TLocalSeconds moment = *LocalSecondsOf(20240229, 235907);
  for (const auto* map : {&packed, &apart}) {
    const auto layout = FindClock(*map, TMapSettings{false, 1});
    ASSERT_TRUE(layout);
    std::vector<std::uint16_t> block(layout->Count(), 0xFFFF);
    for (const auto& [start, words] : ClockWrites(*layout, moment, BS_3_2_1_0))
      std::copy(words.begin(), words.end(), block.begin() + (start - layout->First()));
    const TClockReading reading = ClockFromWords(*layout, block, BS_3_2_1_0, moment + 5);
    ASSERT_TRUE(reading.Ok) << reading.Error;
    EXPECT_EQ(LocalSecondsText(reading.Meter), "2024-02-29 23:59:07");
    EXPECT_EQ(reading.Difference, -5);
  }
  EXPECT_EQ(FindClock(packed, TMapSettings{false, 1})->DateAddress, 1001);
  EXPECT_FALSE(FindClock({{CLOCK_OBIS, eDate, "d", ""}}, TMapSettings{}));
}
