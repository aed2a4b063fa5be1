#include "ModbusUtils.h"

#include <algorithm>
#include <cstddef>

void GetCoilsFromBuffer(std::span<const uint8_t> Buffer, uint16_t Count,
                        std::vector<uint16_t>& Values) {
  const std::size_t n = std::min<std::size_t>({Count, Values.size(), Buffer.size() * 8});
  for (std::size_t i = 0; i < n; ++i) {
    const uint8_t mask = static_cast<uint8_t>(1u << (i % 8));
    Values[i] = (Buffer[i / 8] & mask) != 0 ? 1 : 0;
  }
}

void PutCoilsIntoBuffer(std::span<uint8_t> Buffer, uint16_t Count,
                        const std::vector<uint16_t>& Values) {
  const std::size_t n = std::min<std::size_t>({Count, Values.size(), Buffer.size() * 8});
  for (std::size_t i = 0; i < n; ++i) {
    const uint8_t mask = static_cast<uint8_t>(1u << (i % 8));
    if (mask == 0x01) Buffer[i / 8] = 0;
    if (Values[i] != 0) Buffer[i / 8] = static_cast<uint8_t>(Buffer[i / 8] | mask);
  }
}

void GetRegistersFromBuffer(std::span<const uint8_t> Buffer, uint16_t Count,
                            std::vector<uint16_t>& Values) {
  const std::size_t n = std::min<std::size_t>({Count, Values.size(), Buffer.size() / 2});
  for (std::size_t i = 0; i < n; ++i)
    Values[i] = static_cast<uint16_t>((Buffer[2 * i] << 8) | Buffer[2 * i + 1]);
}

void PutRegistersIntoBuffer(std::span<uint8_t> Buffer, uint16_t Count,
                            const std::vector<uint16_t>& Values) {
  const std::size_t n = std::min<std::size_t>(Count, Buffer.size() / 2);
  for (std::size_t i = 0; i < n; ++i) {
    const uint16_t value = i < Values.size() ? Values[i] : 0;
    Buffer[2 * i] = static_cast<uint8_t>(value >> 8);
    Buffer[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
  }
}
