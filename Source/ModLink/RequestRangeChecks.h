// The checks every request that addresses a range of items makes before it is built:
// a count within the frame's limit, and a range that ends at item 65535 at the latest.
#pragma once

#include <cstdint>

// Raise the documented "Discrete i/o count ..." / "Starting discrete i/o index ..." texts.
void CheckBitRange(std::uint16_t Start, int Count, int MaxCount);
// Raise the documented "Register count ..." / "Starting register index ..." texts.
void CheckRegisterRange(std::uint16_t Start, int Count, int MaxCount);
