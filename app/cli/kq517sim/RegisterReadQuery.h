#pragma once
// Answers one Modbus request PDU (function code first, no address, no error
// check) from the meter's registers: Read Holding Registers (3) and Read
// Input Registers (4) read the same registers; every other function is
// refused. The rules follow the serial slave: a count of 1 to 125 registers,
// exception 3 for a bad count or a truncated query, exception 2 when the range
// leaves the register space or touches a register the meter does not have,
// exception 1 for any other function.

#include "MeterRegisters.h"

#include <cstdint>
#include <span>
#include <vector>

std::vector<std::uint8_t> AnswerRegisterQuery(TMeterRegisters& registers,
                                              std::span<const std::uint8_t> pdu);
