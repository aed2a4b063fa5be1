#include "RegisterTypes.h"

#include <algorithm>

namespace {

struct TTypeInfo {
  std::string_view code;
  int width64;  // registers in the 64-bit layout
  int width32;  // registers in the 32-bit-float layout
};

// Indexed by ERegisterType.
constexpr TTypeInfo TYPE_INFO[REGISTER_TYPE_COUNT] = {
    {"i", 1, 1},  // eWord
    {"I", 2, 2},  // eInteger
    {"f", 2, 2},  // eFloat
    {"F", 4, 2},  // eDouble
    {"D", 2, 2},  // eDate
    {"T", 2, 2},  // eTime
    {"t", 3, 3},  // eTime3
    {"d", 3, 3},  // eDate3
    {"u", 6, 6},  // eTimeStamp12
};

bool IsKnown(ERegisterType type) {
  return static_cast<int>(type) < REGISTER_TYPE_COUNT;
}

}  // namespace

std::string_view MapCode(ERegisterType type) {
  return IsKnown(type) ? TYPE_INFO[type].code : std::string_view{};
}

std::optional<ERegisterType> RegisterTypeFromMapCode(std::string_view code) {
  for (int i = 0; i < REGISTER_TYPE_COUNT; ++i) {
    if (TYPE_INFO[i].code == code) return static_cast<ERegisterType>(i);
  }
  return std::nullopt;
}

int RegisterWidth(ERegisterType type, bool float32) {
  if (!IsKnown(type)) return 0;
  return float32 ? TYPE_INFO[type].width32 : TYPE_INFO[type].width64;
}

std::uint16_t BaseAddressFor(const TMapSettings& settings) {
  const unsigned floatOffset = settings.float32 ? MB_FLOAT32_MAP_ADDRESS : 0u;
  const unsigned instanceOffset =
      static_cast<unsigned>(settings.meterInstanceIndex) * MB_METER_INSTANCE_STRIDE;
  return static_cast<std::uint16_t>(floatOffset + instanceOffset);
}

EByteSequence ByteSequenceFor(bool qvztMode, int comboIndex) {
  if (qvztMode) return BS_0_1_2_3;
  if (comboIndex < 0 || comboIndex >= BYTE_SEQUENCE_COUNT) return BS_1_0_3_2;
  return static_cast<EByteSequence>(comboIndex);
}

std::string ByteSequenceWord(EByteSequence Sequence) {
  std::string word = BYTE_SEQUENCE_NAMES[Sequence < BYTE_SEQUENCE_COUNT ? Sequence : 0];
  word.erase(std::remove(word.begin(), word.end(), ' '), word.end());
  return word;
}
