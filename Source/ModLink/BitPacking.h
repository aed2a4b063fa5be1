// Packing of coil and discrete-input lists into bytes, least significant bit first.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class TModbusBuffer;

inline constexpr int BitsPerByte = 8;
inline constexpr std::array<std::uint8_t, 8> BitMasks = {0x01, 0x02, 0x04, 0x08,
                                                         0x10, 0x20, 0x40, 0x80};

inline std::uint32_t Min(std::uint32_t A, std::uint32_t B) {
  return A < B ? A : B;
}

// Number of bytes needed for RawSize bits.
int DetermineEncodedSize(int RawSize);

// Element j goes to bit (j mod 8) of byte (j div 8); writes exactly
// DetermineEncodedSize(Bits.size()) bytes at the buffer's cursor.
void EncodeBits(const std::vector<bool>& Bits, TModbusBuffer& Buffer);

// Fills all of Bits from the bytes at the cursor, stepping past each byte used.
void DecodeBits(TModbusBuffer& Buffer, std::vector<bool>& Bits);
