#pragma once
// Laying typed values out as register words the way a meter does: the inverse
// of the decoding the tool applies, for each of the four byte sequences.

#include <cstdint>
#include <span>
#include <vector>

#include "RegisterTypes.h"

// Value bytes D[0..n-1] (least significant first, n = 2, 4 or 8) laid out as
// n/2 register words under `sequence`: the words a reader decoding with the
// same sequence turns back into D. Returns an empty vector for other sizes.
std::vector<std::uint16_t> EncodeValueBytes(EByteSequence sequence,
                                            std::span<const std::uint8_t> valueBytes);

std::vector<std::uint16_t> EncodeWord(EByteSequence sequence, std::uint16_t value);
std::vector<std::uint16_t> EncodeInt32(EByteSequence sequence, std::int32_t value);
std::vector<std::uint16_t> EncodeFloat(EByteSequence sequence, float value);
std::vector<std::uint16_t> EncodeDouble(EByteSequence sequence, double value);

// Several 16-bit fields in consecutive registers, each laid out on its own
// (the three-register dates and times, the six-register time stamp).
std::vector<std::uint16_t> EncodeWordFields(EByteSequence sequence,
                                            std::span<const std::uint16_t> fields);
