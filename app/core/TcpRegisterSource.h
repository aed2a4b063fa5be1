#pragma once
// A register source over Modbus TCP, reading in the TCP cycle's blocks. Every
// read and write connects and disconnects again, as the window's cycle does
// without "Leave Connection Open".

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "IdModBusClient.h"
#include "RegisterSource.h"

struct TTcpSourceSettings {
  std::string Host = "127.0.0.1";
  std::uint16_t Port = 502;
  std::uint8_t UnitId = 0;
  std::uint32_t ReplyTimeoutMs = 15000;
  int ConnectTimeoutMs = 5000;
};

// "Modbus TCP 127.0.0.1:1502, unit 0".
std::string DescribeTcpSource(const TTcpSourceSettings& Settings);

class TTcpRegisterSource : public TRegisterSource {
 public:
  explicit TTcpRegisterSource(const TTcpSourceSettings& Settings);
  TRegisterRead Read(std::uint16_t Start, std::uint32_t Count) override;
  TRegisterRead ReadTable(EReadFunction Table, std::uint16_t Start, std::uint32_t Count) override;
  TRegisterWrite Write(std::uint16_t Start, const std::vector<std::uint16_t>& Words,
                       bool Single) override;
  std::string Describe() const override;

 private:
  // Connects, runs Request and disconnects; the error-bar text of what went
  // wrong, empty when Request succeeded. ExceptionCode gets the code of an
  // exception reply.
  std::string Exchange(const std::function<bool()>& Request, std::uint8_t& ExceptionCode);

  TTcpSourceSettings FSettings;
  TIdModBusClient FClient;
};
