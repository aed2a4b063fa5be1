#include "RequestLog.h"

#include <cstdio>

#include "FrameSummary.h"  // ExceptionName

namespace {

unsigned WordAt(std::span<const std::uint8_t> q, std::size_t At) {
  return static_cast<unsigned>(q[At] << 8 | q[At + 1]);
}

std::string Hex4(unsigned Word) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", Word & 0xFFFFu);
  return text;
}

bool IsWrite(unsigned Function) {
  return Function == 6 || Function == 16;
}

std::string DescribeQuery(std::span<const std::uint8_t> q) {
  const unsigned function = q[0];
  if ((function == 3 || function == 4) && q.size() >= 5) {
    const unsigned start = static_cast<unsigned>(q[1] << 8 | q[2]);
    const unsigned count = static_cast<unsigned>(q[3] << 8 | q[4]);
    return std::string(function == 3 ? "read holding registers " : "read input registers ") +
           std::to_string(start) + "+" + std::to_string(count);
  }
  if (function == 6 && q.size() >= 5)
    return "write register " + std::to_string(WordAt(q, 1)) + " = " + Hex4(WordAt(q, 3));
  if (function == 16 && q.size() >= 6) {
    const unsigned start = WordAt(q, 1);
    const unsigned count = WordAt(q, 3);
    std::string line = "write registers " + std::to_string(start) + "+" + std::to_string(count);
    const char* separator = " =";
    for (std::size_t at = 6; at + 1 < q.size(); at += 2, separator = "")
      line += separator + (" " + Hex4(WordAt(q, at)));
    return line;
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
  if (IsWrite(query[0])) return line + "written";
  if (reply.size() >= 2) {
    const unsigned count = reply[1] / 2u;
    return line + std::to_string(count) + (count == 1 ? " register" : " registers");
  }
  return line + "answered";
}
