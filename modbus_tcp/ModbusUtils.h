#pragma once
// Moving coils and registers between a frame's data bytes and value arrays.
// Register values are host-order words in the arrays and big-endian on the
// wire; coils are 1/0 words in the arrays and eight per byte on the wire, the
// first one in the least significant bit.
//
// Every routine is bounded by the count, the length of the value array and
// the size of the byte span it is given: nothing is read or written outside.

#include <cstdint>
#include <span>
#include <vector>

// Returns Value with its two bytes exchanged.
constexpr uint16_t Swap16(uint16_t Value) {
  return static_cast<uint16_t>((Value << 8) | (Value >> 8));
}

// Unpacks up to Count coils from Buffer into Values (1 or 0 each).
void GetCoilsFromBuffer(std::span<const uint8_t> Buffer, uint16_t Count,
                        std::vector<uint16_t>& Values);

// Packs up to Count coils from Values into Buffer; bits that carry no value
// stay 0.
void PutCoilsIntoBuffer(std::span<uint8_t> Buffer, uint16_t Count,
                        const std::vector<uint16_t>& Values);

// Unpacks up to Count big-endian registers from Buffer into Values.
void GetRegistersFromBuffer(std::span<const uint8_t> Buffer, uint16_t Count,
                            std::vector<uint16_t>& Values);

// Writes Count registers big-endian into Buffer; a value missing from Values
// is written as 0.
void PutRegistersIntoBuffer(std::span<uint8_t> Buffer, uint16_t Count,
                            const std::vector<uint16_t>& Values);
