#include "RegisterEncoding.h"

#include <array>
#include <bit>

namespace {

// For each sequence and size, the wire byte that becomes value byte i
// (wire bytes counted from the first register's high byte). Encoding writes
// value byte i back to that wire position.
constexpr std::array<std::uint8_t, 2> SOURCE_2[BYTE_SEQUENCE_COUNT] = {
    {1, 0}, {0, 1}, {0, 1}, {1, 0}};
constexpr std::array<std::uint8_t, 4> SOURCE_4[BYTE_SEQUENCE_COUNT] = {
    {1, 0, 3, 2}, {0, 1, 2, 3}, {2, 3, 0, 1}, {3, 2, 1, 0}};
constexpr std::array<std::uint8_t, 8> SOURCE_8[BYTE_SEQUENCE_COUNT] = {{1, 0, 3, 2, 5, 4, 7, 6},
                                                                       {0, 1, 2, 3, 4, 5, 6, 7},
                                                                       {6, 7, 4, 5, 2, 3, 0, 1},
                                                                       {7, 6, 5, 4, 3, 2, 1, 0}};

const std::uint8_t* SourceTable(EByteSequence sequence, std::size_t size) {
  const int s = static_cast<int>(sequence);
  if (s < 0 || s >= BYTE_SEQUENCE_COUNT) return nullptr;
  switch (size) {
    case 2:
      return SOURCE_2[s].data();
    case 4:
      return SOURCE_4[s].data();
    case 8:
      return SOURCE_8[s].data();
    default:
      return nullptr;
  }
}

// Little-endian image of an integer of any width, independent of the host.
template <typename T>
std::array<std::uint8_t, sizeof(T)> LittleEndianBytes(T value) {
  std::array<std::uint8_t, sizeof(T)> bytes{};
  auto u = static_cast<std::make_unsigned_t<T>>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[i] = static_cast<std::uint8_t>(u & 0xFFu);
    u = static_cast<std::make_unsigned_t<T>>(u >> 8);
  }
  return bytes;
}

}  // namespace

std::vector<std::uint16_t> EncodeValueBytes(EByteSequence sequence,
                                            std::span<const std::uint8_t> valueBytes) {
  const std::uint8_t* source = SourceTable(sequence, valueBytes.size());
  if (source == nullptr) return {};
  std::array<std::uint8_t, 8> wire{};
  for (std::size_t i = 0; i < valueBytes.size(); ++i) wire[source[i]] = valueBytes[i];
  std::vector<std::uint16_t> words(valueBytes.size() / 2);
  for (std::size_t k = 0; k < words.size(); ++k) {
    words[k] = static_cast<std::uint16_t>((wire[2 * k] << 8) | wire[2 * k + 1]);
  }
  return words;
}

std::vector<std::uint16_t> EncodeWord(EByteSequence sequence, std::uint16_t value) {
  return EncodeValueBytes(sequence, LittleEndianBytes(value));
}

std::vector<std::uint16_t> EncodeInt32(EByteSequence sequence, std::int32_t value) {
  return EncodeValueBytes(sequence, LittleEndianBytes(value));
}

std::vector<std::uint16_t> EncodeFloat(EByteSequence sequence, float value) {
  return EncodeValueBytes(sequence, LittleEndianBytes(std::bit_cast<std::uint32_t>(value)));
}

std::vector<std::uint16_t> EncodeDouble(EByteSequence sequence, double value) {
  return EncodeValueBytes(sequence, LittleEndianBytes(std::bit_cast<std::uint64_t>(value)));
}

std::vector<std::uint16_t> EncodeWordFields(EByteSequence sequence,
                                            std::span<const std::uint16_t> fields) {
  std::vector<std::uint16_t> words;
  words.reserve(fields.size());
  for (std::uint16_t field : fields) words.push_back(EncodeWord(sequence, field).at(0));
  return words;
}
