#pragma once
// Where the commissioning steps (byte-order detection, the limits test) get
// the raw register words of a map from: one read of a block of holding
// registers over whichever transport reaches the meter. Unlike the collection
// cycles, a source hands back the words themselves, so that a caller can
// decode them more than one way.

#include <cstdint>
#include <string>
#include <vector>

struct TRegisterRead {
  bool Ok = false;                   // every register came back
  std::vector<std::uint16_t> Words;  // host order, first word at the start register
  std::string Error;                 // why not, in the window's words
};

class TRegisterSource {
 public:
  virtual ~TRegisterSource() = default;
  // Reads Count registers from Start. Never raises: a failure is in the result.
  virtual TRegisterRead Read(std::uint16_t Start, std::uint32_t Count) = 0;
  // "Modbus TCP 127.0.0.1:1502, unit 0" or "Modbus RTU /dev/ttyUSB0, 19200 baud,
  // parity even, slave 7": the connection settings, for reports.
  virtual std::string Describe() const = 0;
};
