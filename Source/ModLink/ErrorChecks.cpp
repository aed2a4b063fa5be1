#include "ErrorChecks.h"

std::uint16_t CRC16(const std::uint8_t* Data, std::size_t Count) {
  unsigned Crc = 0xFFFF;
  for (std::size_t i = 0; i < Count; ++i)
    Crc = CRC16LookupTable[(Crc ^ Data[i]) & 0xFF] ^ (Crc >> 8);
  return static_cast<std::uint16_t>(Crc);
}

std::uint8_t LRC8(const std::uint8_t* Data, std::size_t Count) {
  unsigned Sum = 0;
  for (std::size_t i = 0; i < Count; ++i) Sum += Data[i];
  return static_cast<std::uint8_t>(0u - Sum);
}
