#pragma once
// Which registers a collection cycle reads: the holding registers (function
// 3, where the meter keeps its measurements) or the input registers
// (function 4, where some gateways map them). The value is the Modbus
// function code.

#include <string>

enum class EReadFunction { rfHoldingRegisters = 3, rfInputRegisters = 4 };

inline constexpr EReadFunction DEFAULT_READ_FUNCTION = EReadFunction::rfHoldingRegisters;

// "holding registers" or "input registers", for descriptions.
inline std::string ReadFunctionWords(EReadFunction Function) {
  return Function == EReadFunction::rfInputRegisters ? "input registers" : "holding registers";
}
