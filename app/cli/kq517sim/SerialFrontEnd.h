#pragma once
// The simulated meter on a Modbus serial line: the serial library's connection
// in slave mode with our meter server registered on it, either on a serial
// port by name or (POSIX) on a new pseudo-terminal whose other end readers
// open by its path. The same server also answers the TCP front end's requests, so
// both paths follow one set of request rules.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "MeterRegisters.h"
#include "MeterServer.h"
#include "ModbusConnection.h"
#include "platform/PseudoTerminal.h"

struct TSerialSettings {
  std::string port;  // empty: a new pseudo-terminal
  bool ascii = false;
  std::uint32_t baudRate = 115200;
  char parity = 'N';  // 'N', 'E' or 'O'
  int stopBits = 1;
  TDataBits dataBits = db8;
  std::uint8_t slaveAddress = 1;
  bool frameEndByLength = false;  // queries end by their length, not the line's silence
};

class TSerialFrontEnd {
 public:
  // Uses the process's main-thread seam (install it before constructing).
  TSerialFrontEnd(const TSerialSettings& settings, TMeterRegisters& registers);
  ~TSerialFrontEnd();
  TSerialFrontEnd(const TSerialFrontEnd&) = delete;
  TSerialFrontEnd& operator=(const TSerialFrontEnd&) = delete;

  // Opens the line and starts answering. Throws std::runtime_error with the
  // reason when the port or the pseudo-terminal cannot be had. Not needed for
  // AnswerPdu: without a line the slave still answers the TCP front end.
  void Open();
  void Close();

  // The path readers open: the pseudo-terminal's, or the port as given.
  const std::string& Path() const { return FPath; }
  std::string Framing() const;  // "RTU" or "ASCII"

  // Answers a request PDU (function code first) as this slave does on the
  // line; an empty result means no reply. Main thread only.
  std::vector<std::uint8_t> AnswerPdu(std::span<const std::uint8_t> pdu);
  // The same into `reply` (room for the largest PDU, 253 bytes), returning
  // its size: no allocation and no CRC, for requests that come without one.
  std::size_t AnswerPdu(std::span<const std::uint8_t> pdu, std::span<std::uint8_t> reply);

  // When set before Open: one line per exchange on the line.
  std::function<void(const std::string&)> OnLog;

 private:
  std::vector<std::uint8_t> PduOfRawFrame(const TFrameData& raw) const;

  TSerialSettings FSettings;
  TMeterServer FServer;
  TModbusConnection FConnection;
  std::string FPath;
  TPseudoTerminal FTerminal;
  std::vector<std::uint8_t> FLastQuery;
  // One transaction serves every request that arrives as a bare PDU.
  TModbusTransaction FPduTransaction;
};
