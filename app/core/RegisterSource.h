#pragma once
// Where the commissioning steps (byte-order detection, the limits test) get
// the raw register words of a map from: one read of a block of holding
// registers over whichever transport reaches the meter. Unlike the collection
// cycles, a source hands back the words themselves, so that a caller can
// decode them more than one way. A source also reads the input registers
// and writes registers, for the register tools and the meter's clock.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ReadFunction.h"

struct TRegisterRead {
  bool Ok = false;                   // every register came back
  std::vector<std::uint16_t> Words;  // host order, first word at the start register
  std::string Error;                 // why not, in the window's words
};

// How a write ended.
struct TRegisterWrite {
  bool Ok = false;                 // the device acknowledged the write
  std::string Error;               // why not, in the window's words
  std::uint8_t ExceptionCode = 0;  // of an exception reply; 0 for any other failure
};

class TRegisterSource {
 public:
  virtual ~TRegisterSource() = default;
  // Reads Count registers from Start. Never raises: a failure is in the result.
  virtual TRegisterRead Read(std::uint16_t Start, std::uint32_t Count) = 0;
  // The same from either table (function 3 or 4). A source that reads only
  // holding registers refuses the input registers.
  virtual TRegisterRead ReadTable(EReadFunction Table, std::uint16_t Start, std::uint32_t Count);
  // Writes Words from Start with function 16, or with function 6 when Single
  // (one word). A source that cannot write refuses. Never raises.
  virtual TRegisterWrite Write(std::uint16_t Start, const std::vector<std::uint16_t>& Words,
                               bool Single);
  // "Modbus TCP 127.0.0.1:1502, unit 0" or "Modbus RTU /dev/ttyUSB0, 19200 baud,
  // parity even, slave 7": the connection settings, for reports.
  virtual std::string Describe() const = 0;
};

// Why Count words cannot be written from Start in one request: none, more
// than one for function 6, more than 123 for function 16, or past register
// 65535. Empty when they can.
std::string WriteRangeRefusal(std::uint16_t Start, std::size_t Count, bool Single);
