// Value arrays that requests take and that client events hand to the application.
#pragma once

#include <cstdint>
#include <vector>

using TBitValues = std::vector<bool>;
using TRegValues = std::vector<std::uint16_t>;
using TExceptionStatusValues = std::vector<bool>;  // always 8 values
using TServerIdentificationData = std::vector<std::uint8_t>;
