#include "RequestRangeChecks.h"

#include "ModLinkError.h"

using namespace ModLinkMessages;

namespace {
constexpr int MaxItemAddress = 0xFFFF;
}

void CheckBitRange(std::uint16_t Start, int Count, int MaxCount) {
  if (Count < 1 || Count > MaxCount) ModLinkError(SDiscreteCountInvalid, {MaxCount});
  if (Start + Count - 1 > MaxItemAddress)
    ModLinkError(SStartDiscreteInvalid, {static_cast<int>(Start)});
}

void CheckRegisterRange(std::uint16_t Start, int Count, int MaxCount) {
  if (Count < 1 || Count > MaxCount) ModLinkError(SRegisterCountInvalid, {MaxCount});
  if (Start + Count - 1 > MaxItemAddress)
    ModLinkError(SStartRegisterInvalid, {static_cast<int>(Start)});
}
