#pragma once
// A line monitor finds the end of an RTU frame by the silence after it. When
// frames follow each other closely (a master that asks again at once, a USB
// adapter that hands over its bytes in bunches), that silence is lost and the
// monitor receives several frames as one, which then fails its CRC. The
// frames can still be told apart by their content: each ends with the CRC of
// the bytes before it and has the shape of a Modbus request or reply.

#include <cstdint>
#include <span>
#include <vector>

#include "FrameHook.h"

// The frames Bytes is made of, when it splits exactly into two or more, each
// with a matching CRC and the shape of a request, a reply or an exception;
// empty otherwise.
std::vector<std::vector<std::uint8_t>> SplitRtuFrames(std::span<const std::uint8_t> Bytes);

// The records a monitor should report for Record: the frames it is made of
// when it is an RTU frame that failed its check but splits into sound ones
// (each then marked ok, or exception), else Record itself.
std::vector<TFrameRecord> SeparateMonitoredFrames(const TFrameRecord& Record);
