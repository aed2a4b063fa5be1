// Holders that carry copies of raw frame bytes from the worker thread to the
// user-interface thread inside a posted message. The receiver frees them.
#pragma once

#include <cstdint>
#include <vector>

using TFrameData = std::vector<std::uint8_t>;
using PFrameData = TFrameData*;

// A zero-filled holder of Capacity bytes (none for a negative capacity).
PFrameData CreateFrameBuffer(int Capacity);
// Empties the caller's variable first, then frees the holder; does nothing for null.
void DestroyFrameBuffer(PFrameData& Holder);
