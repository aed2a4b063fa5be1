// Packing of coils and registers between frame bytes and value arrays.

#include "ModbusUtils.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

TEST(ModbusUtils, Swap16ExchangesTheBytes) {
  EXPECT_EQ(Swap16(0x1234), 0x3412);
  EXPECT_EQ(Swap16(Swap16(0xBEEF)), 0xBEEF);
}

TEST(ModbusUtils, CoilsUnpackFromTheLeastSignificantBitOn) {
  const std::array<uint8_t, 2> bytes{0x05, 0x02};
  std::vector<uint16_t> values(10, 7);
  GetCoilsFromBuffer(bytes, 10, values);
  EXPECT_EQ(values, (std::vector<uint16_t>{1, 0, 1, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(ModbusUtils, CoilUnpackingStopsAtCountArrayOrBuffer) {
  const std::array<uint8_t, 1> bytes{0xFF};
  std::vector<uint16_t> shortArray(3, 0);
  GetCoilsFromBuffer(bytes, 8, shortArray);  // the array bounds it
  EXPECT_EQ(shortArray, (std::vector<uint16_t>{1, 1, 1}));

  std::vector<uint16_t> longArray(12, 9);
  GetCoilsFromBuffer(bytes, 12, longArray);  // one byte holds only eight coils
  EXPECT_EQ(longArray, (std::vector<uint16_t>{1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9}));

  std::vector<uint16_t> fewer(4, 9);
  GetCoilsFromBuffer(bytes, 2, fewer);  // the count bounds it
  EXPECT_EQ(fewer, (std::vector<uint16_t>{1, 1, 9, 9}));
}

TEST(ModbusUtils, CoilsPackEightPerByteAndClearUnusedBits) {
  std::array<uint8_t, 3> bytes{0xAA, 0xAA, 0xAA};
  PutCoilsIntoBuffer(bytes, 10, {1, 0, 1, 0, 0, 0, 0, 0, 0, 3});
  EXPECT_EQ(bytes[0], 0x05);
  EXPECT_EQ(bytes[1], 0x02);  // high bits of the last byte stay 0
  EXPECT_EQ(bytes[2], 0xAA);  // beyond the coils: untouched
}

TEST(ModbusUtils, CoilPackingNeverWritesPastTheBuffer) {
  std::array<uint8_t, 2> storage{0x00, 0x77};
  PutCoilsIntoBuffer(std::span<uint8_t>(storage).first(1), 16, std::vector<uint16_t>(16, 1));
  EXPECT_EQ(storage[0], 0xFF);
  EXPECT_EQ(storage[1], 0x77);
}

TEST(ModbusUtils, RegistersAreBigEndianOnTheWire) {
  std::array<uint8_t, 4> bytes{};
  PutRegistersIntoBuffer(bytes, 2, {0x1234, 0xABCD});
  EXPECT_EQ(bytes, (std::array<uint8_t, 4>{0x12, 0x34, 0xAB, 0xCD}));

  std::vector<uint16_t> values(2, 0);
  GetRegistersFromBuffer(bytes, 2, values);
  EXPECT_EQ(values, (std::vector<uint16_t>{0x1234, 0xABCD}));
}

TEST(ModbusUtils, RegisterRoutinesStayWithinTheirInputs) {
  // An odd byte at the end is half a register and is not taken.
  const std::array<uint8_t, 3> bytes{0x00, 0x01, 0x02};
  std::vector<uint16_t> values(3, 9);
  GetRegistersFromBuffer(bytes, 3, values);
  EXPECT_EQ(values, (std::vector<uint16_t>{1, 9, 9}));

  // Values missing from a short array go out as 0.
  std::array<uint8_t, 6> out{};
  out.fill(0xEE);
  PutRegistersIntoBuffer(out, 3, {0x0102});
  EXPECT_EQ(out, (std::array<uint8_t, 6>{0x01, 0x02, 0, 0, 0, 0}));
}
