#pragma once
// One-line descriptions of a request and its answer, for --verbose.

#include <cstdint>
#include <span>
#include <string>

// "read holding registers 1000+63: 63 registers" or
// "function 6: exception 1 (illegal function)"; `reply` is the reply PDU,
// empty when nothing was answered.
std::string DescribeExchange(std::span<const std::uint8_t> query,
                             std::span<const std::uint8_t> reply);
