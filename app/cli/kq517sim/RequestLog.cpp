#include "RequestLog.h"

#include "FrameSummary.h"  // ExceptionName

namespace {

std::string DescribeQuery(std::span<const std::uint8_t> q) {
  const unsigned function = q[0];
  if ((function == 3 || function == 4) && q.size() >= 5) {
    const unsigned start = static_cast<unsigned>(q[1] << 8 | q[2]);
    const unsigned count = static_cast<unsigned>(q[3] << 8 | q[4]);
    return std::string(function == 3 ? "read holding registers " : "read input registers ") +
           std::to_string(start) + "+" + std::to_string(count);
  }
  return "function " + std::to_string(function) + " (" + std::to_string(q.size()) + " bytes)";
}

}  // namespace

std::string DescribeExchange(std::span<const std::uint8_t> query,
                             std::span<const std::uint8_t> reply) {
  if (query.empty()) return "empty request: no answer";
  std::string line = DescribeQuery(query) + ": ";
  if (reply.empty()) return line + "no answer";
  if ((reply[0] & 0x80u) != 0 && reply.size() >= 2) {
    return line + "exception " + std::to_string(reply[1]) + " (" + ExceptionName(reply[1]) + ")";
  }
  if (reply.size() >= 2) {
    const unsigned count = reply[1] / 2u;
    return line + std::to_string(count) + (count == 1 ? " register" : " registers");
  }
  return line + "answered";
}
