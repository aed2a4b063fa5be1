// The two Modbus serial error checks: CRC-16 for RTU, LRC-8 for ASCII.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Entry i is the CRC-16 step (reflected polynomial 0xA001) for the single byte i.
// Built once, at compile time, and read-only afterwards, so any thread may use it.
constexpr std::array<std::uint16_t, 256> InitializeCRC16LookupTable() {
  std::array<std::uint16_t, 256> Table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned Crc = i;
    for (int Bit = 0; Bit < 8; ++Bit) Crc = (Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1;
    Table[i] = static_cast<std::uint16_t>(Crc);
  }
  return Table;
}

inline constexpr std::array<std::uint16_t, 256> CRC16LookupTable = InitializeCRC16LookupTable();

// Modbus RTU CRC: initial value 0xFFFF, no final XOR. Sent low byte first.
std::uint16_t CRC16(const std::uint8_t* Data, std::size_t Count);
// Modbus ASCII LRC: the two's complement of the byte sum, over the binary bytes.
std::uint8_t LRC8(const std::uint8_t* Data, std::size_t Count);
