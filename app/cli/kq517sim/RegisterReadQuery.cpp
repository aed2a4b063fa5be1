#include "RegisterReadQuery.h"

namespace {

constexpr std::uint8_t FC_READ_HOLDING_REGISTERS = 3;
constexpr std::uint8_t FC_READ_INPUT_REGISTERS = 4;
constexpr std::uint8_t EXCEPTION_ILLEGAL_FUNCTION = 1;
constexpr std::uint8_t EXCEPTION_ILLEGAL_DATA_ADDRESS = 2;
constexpr std::uint8_t EXCEPTION_ILLEGAL_DATA_VALUE = 3;
constexpr unsigned MAX_READ_REGISTERS = 125;

std::vector<std::uint8_t> Exception(std::uint8_t function, std::uint8_t code) {
  return {static_cast<std::uint8_t>(function | 0x80u), code};
}

unsigned WordAt(std::span<const std::uint8_t> pdu, std::size_t at) {
  return static_cast<unsigned>(pdu[at] << 8 | pdu[at + 1]);
}

}  // namespace

std::vector<std::uint8_t> AnswerRegisterQuery(TMeterRegisters& registers,
                                              std::span<const std::uint8_t> pdu) {
  if (pdu.empty()) return {};
  const std::uint8_t function = pdu[0];
  if (function != FC_READ_HOLDING_REGISTERS && function != FC_READ_INPUT_REGISTERS) {
    return Exception(function, EXCEPTION_ILLEGAL_FUNCTION);
  }
  if (pdu.size() < 5) return Exception(function, EXCEPTION_ILLEGAL_DATA_VALUE);
  const unsigned start = WordAt(pdu, 1);
  const unsigned count = WordAt(pdu, 3);
  if (count < 1 || count > MAX_READ_REGISTERS) {
    return Exception(function, EXCEPTION_ILLEGAL_DATA_VALUE);
  }
  if (start + count - 1 > 0xFFFF) return Exception(function, EXCEPTION_ILLEGAL_DATA_ADDRESS);
  registers.Refresh();
  for (unsigned a = start; a < start + count; ++a) {
    if (!registers.CanRead(static_cast<std::uint16_t>(a))) {
      return Exception(function, EXCEPTION_ILLEGAL_DATA_ADDRESS);
    }
  }
  std::vector<std::uint8_t> reply{function, static_cast<std::uint8_t>(2 * count)};
  reply.reserve(2 + 2 * count);
  for (unsigned a = start; a < start + count; ++a) {
    const std::uint16_t v = registers.Value(static_cast<std::uint16_t>(a));
    reply.push_back(static_cast<std::uint8_t>(v >> 8));
    reply.push_back(static_cast<std::uint8_t>(v & 0xFF));
  }
  return reply;
}
